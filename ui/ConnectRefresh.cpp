#include "ui/CtolmiDlg.h"

void CtolmiDlg::RunListingCommand(const ListingCommand& command, const RemotePath& directory) {
    m_pConnection.reset();
    m_pFinder.reset();
    UpdateData(true);
    ClearFileList();
    OpenConnection();
    if (!m_pConnection) {
        MessageBox(command.loginFailure);
        ReleaseConnection();
        return;
    }
    if (!command.loginSuccess.isEmpty())
        MessageBox(command.loginSuccess + (command.appendServer ? m_strServer : QString()));
    // A fresh login stands in the login directory; anything else is entered first, and the
    // list never shows a directory other than the one asked for.
    if (!(directory == RemotePath()) && !m_pConnection->SetCurrentDirectory(directory)) {
        MessageBox(QStringLiteral("无法打开目录！"));
        ReleaseConnection();
        return;
    }
    OpenFinder();
    (this->*command.list)();
    m_listedDirectory = directory;
    ReleaseConnection();
}

void CtolmiDlg::OnConnect() {
    RunListingCommand({QStringLiteral("无法连接！"), QStringLiteral("连接成功！"), true,
                       &CtolmiDlg::ListCurrentDirectory},
                      RemotePath());
}

void CtolmiDlg::OnRefresh() {
    RunListingCommand({QStringLiteral("无法刷新！"), QStringLiteral("刷新成功！"), false,
                       &CtolmiDlg::ListCurrentDirectoryInOrder},
                      RemotePath());
}
