#include "ui/CtolmiDlg.h"

#include "ui/Messages.h"

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
    // The list never shows a directory other than the one asked for.
    if (!EnterDirectory(directory)) {
        MessageBox(m_monitor.IsCancelled() ? command.loginFailure
                                           : QString(Messages::kDirectoryFailed));
        ReleaseConnection();
        return;
    }
    OpenFinder();
    if (m_monitor.IsCancelled()) {
        // A cancelled command fails as a failed login does.
        MessageBox(command.loginFailure);
        ReleaseConnection();
        return;
    }
    (this->*command.list)();
    m_listedDirectory = directory;
    ReleaseConnection();
}

void CtolmiDlg::OnConnect() {
    RunListingCommand({Messages::kConnectFailed, Messages::kConnectSucceeded, true,
                       &CtolmiDlg::ListCurrentDirectory},
                      RemotePath());
}

void CtolmiDlg::OnRefresh() {
    RunListingCommand({Messages::kRefreshFailed, Messages::kRefreshSucceeded, false,
                       &CtolmiDlg::ListCurrentDirectoryInOrder},
                      RemotePath());
}
