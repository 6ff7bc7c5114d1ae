#include "ui/CtolmiDlg.h"

#include "FailureMessage.h"
#include "Messages.h"

void CtolmiDlg::RunListingCommand(const ListingCommand& command, const RemotePath& directory) {
    m_pConnection.reset();
    m_pFinder.reset();
    UpdateData(true);
    if (!command.tentative)
        ClearFileList();
    const FtpResult login = OpenConnection();
    if (!login) {
        ClearFileList();
        MessageBox(FailureMessage(CommandStep::Login, login, command.loginFailure));
        ReleaseConnection();
        return;
    }
    if (!command.loginSuccess.isEmpty())
        MessageBox(command.loginSuccess + (command.appendServer ? m_strServer : QString()));
    // The list never shows a directory other than the one asked for.
    const FtpResult entered = EnterDirectory(directory);
    if (!entered) {
        if (!command.tentative || entered.Reason() == FtpReason::Cancelled) {
            ClearFileList();
            MessageBox(FailureMessage(CommandStep::EnterDirectory, entered, command.loginFailure));
        }
        ReleaseConnection();
        return;
    }
    // A tentative command empties the list only now that it has something to show.
    ClearFileList();
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
