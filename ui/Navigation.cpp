#include "ui/CtolmiDlg.h"

#include "ui/Messages.h"

#include <QPushButton>

void CtolmiDlg::OnFileListSelChange() {
    SetLoginControlsEnabled(false);
    m_btnDownload->setEnabled(true);
}

void CtolmiDlg::OnFileListDblClk() {
    // A file line, or no line at all, is nothing to enter: the list stays as it is.
    const std::optional<ListLine> line = SelectedLine();
    if (!line || !line->isDirectory)
        return;
    RunListingCommand(
        {Messages::kConnectFailed, QString(), false, &CtolmiDlg::ListCurrentDirectory},
        m_listedDirectory.Child(line->rawName));
}
