#include "ui/CtolmiDlg.h"

#include "ftp/CInternetException.h"

// Every command logs in afresh and releases everything before it returns: no connection and
// no remote state outlive a command.

void CtolmiDlg::OpenConnection() {
    m_pConnection.reset();
    m_pSession = std::make_unique<CInternetSession>(m_ftpTimeouts);
    try {
        m_pConnection = m_pSession->GetFtpConnection(m_strServer, m_strUser, m_strPassword);
    } catch (const CInternetException&) {
        // The command reports the failure in its own words.
        m_pConnection.reset();
    }
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
