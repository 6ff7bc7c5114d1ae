#include "ui/CtolmiDlg.h"

#include <QPushButton>

void CtolmiDlg::OnFileListSelChange() {
    SetLoginControlsEnabled(false);
    m_btnDownload->setEnabled(true);
}

void CtolmiDlg::OnFileListDblClk() {
    QByteArray rawName;
    bool isDirectory = false;
    QString text;
    // A file line, or no line at all, is nothing to enter: the list stays as it is.
    if (!SelectedEntry(rawName, isDirectory, text) || !isDirectory)
        return;
    RunListingCommand(
        {QStringLiteral("无法连接！"), QString(), false, &CtolmiDlg::ListCurrentDirectory},
        m_listedDirectory.Child(rawName));
}
