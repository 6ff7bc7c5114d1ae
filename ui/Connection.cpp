#include "ui/CtolmiDlg.h"

#include "ftp/CInternetException.h"
#include "ftp/RemoteName.h"
#include "ui/BackgroundWork.h"

// Every command logs in afresh and releases everything before it returns: no connection and
// no remote state outlive a command.

void CtolmiDlg::OpenConnection() {
    m_pConnection.reset();
    m_monitor.Reset();
    m_pSession = std::make_unique<CInternetSession>(m_ftpTimeouts, &m_monitor);
    RunInBackground(ProgressActivity::Connecting, m_strServer, [this] {
        try {
            m_pConnection = m_pSession->GetFtpConnection(m_strServer, m_strUser, m_strPassword);
        } catch (const CInternetException&) {
            // The command reports the failure in its own words.
            m_pConnection.reset();
        }
    });
}

void CtolmiDlg::RunInBackground(ProgressActivity activity, const QString& subject,
                                const std::function<void()>& work) {
    ::RunInBackground(this, m_monitor, activity, subject, work);
}

bool CtolmiDlg::EnterDirectory(const RemotePath& directory) {
    if (directory == RemotePath())
        return true;
    QByteArray path;
    for (const QByteArray& segment : directory.Segments())
        path += "/" + segment;
    bool entered = false;
    RunInBackground(ProgressActivity::OpeningDirectory, RemoteName::Display(path),
                    [&] { entered = m_pConnection->SetCurrentDirectory(directory); });
    return entered;
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
