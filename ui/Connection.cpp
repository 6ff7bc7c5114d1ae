#include "ui/CtolmiDlg.h"

#include "ftp/CInternetException.h"
#include "ftp/RemoteName.h"

// Every command logs in afresh and releases everything before it returns: no connection and
// no remote state outlive a command.

void CtolmiDlg::OpenConnection() {
    m_pConnection.reset();
    m_monitor.Reset();
    // A window closed while the command asked something cancels what follows, too.
    if (m_bCloseRequested)
        m_monitor.Cancel();
    m_pSession = std::make_unique<CInternetSession>(m_ftpTimeouts, &m_monitor);
    // The worker gets copies of the fields: the window's members stay the window's.
    m_pConnection = RunInBackground<std::unique_ptr<CFtpConnection>>(
        ProgressActivity::Connecting, m_strServer,
        [session = m_pSession.get(), server = m_strServer, user = m_strUser,
         password = m_strPassword]() -> std::unique_ptr<CFtpConnection> {
            try {
                return session->GetFtpConnection(server, user, password);
            } catch (const CInternetException&) {
                // The command reports the failure in its own words.
                return nullptr;
            }
        });
}

bool CtolmiDlg::EnterDirectory(const RemotePath& directory) {
    if (directory == RemotePath())
        return true;
    QByteArray path;
    for (const QByteArray& segment : directory.Segments())
        path += "/" + segment;
    return RunInBackground<bool>(ProgressActivity::OpeningDirectory, RemoteName::Display(path),
                                 [connection = m_pConnection.get(), directory] {
                                     return connection->SetCurrentDirectory(directory);
                                 });
}

void CtolmiDlg::ReleaseConnection() {
    if (m_pFinder) {
        m_pFinder->Close();
        m_pFinder.reset();
    }
    if (m_pConnection) {
        m_pConnection->Close();
        m_pConnection.reset();
    }
    m_pSession.reset();
}
