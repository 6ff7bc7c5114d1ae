#include "ui/CtolmiDlg.h"

#include "Messages.h"

#include <QPushButton>

void CtolmiDlg::OnFileListSelChange() {
    SetLoginControlsEnabled(false);
    m_btnDownload->setEnabled(true);
}

void CtolmiDlg::OnFileListDblClk() {
    // A file line, or no line at all, is nothing to enter: the list stays as it is. A line
    // whose kind the server did not say may be a directory: entering it is tried.
    const std::optional<ListLine> line = SelectedLine();
    if (!line || (!line->isDirectory && line->kindKnown))
        return;
    RunListingCommand({Messages::kConnectFailed, QString(), false, &CtolmiDlg::ListCurrentDirectory,
                       !line->isDirectory},
                      m_listedDirectory.Child(line->rawName));
}
