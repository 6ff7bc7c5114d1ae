#include "ui/CtolmiDlg.h"

#include "ftp/CInternetException.h"
#include "listing/RemoteName.h"
#include "CertificateQuestion.h"
#include "Messages.h"

namespace {

// What a login on the worker gives back: a connection, or why there is none.
struct LoginOutcome {
    std::unique_ptr<CFtpConnection> connection;
    std::optional<CInternetException> failure;
};

} // namespace

// Every command logs in afresh and releases everything before it returns: no connection and
// no remote state outlive a command.

void CtolmiDlg::OpenConnection() {
    m_pConnection.reset();
    m_monitor.Reset();
    // A window closed while the command asked something cancels what follows, too.
    if (m_bCloseRequested)
        m_monitor.Cancel();
    m_pSession =
        std::make_unique<CInternetSession>(m_ftpTimeouts, &m_monitor, &m_tlsTrust, &m_mlsdSupport);
    // A certificate the user trusts gets one more login, pinned to it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The worker gets copies of the fields: the window's members stay the window's.
        LoginOutcome outcome = RunInBackground<LoginOutcome>(
            ProgressActivity::Connecting, m_strServer,
            [session = m_pSession.get(), server = m_strServer, user = m_strUser,
             password = m_strPassword]() -> LoginOutcome {
                try {
                    return {session->GetFtpConnection(server, user, password), std::nullopt};
                } catch (const CInternetException& exception) {
                    // The command reports the failure in its own words.
                    return {nullptr, exception};
                }
            });
        m_pConnection = std::move(outcome.connection);
        if (!outcome.failure || !TrustCertificateAfter(*outcome.failure))
            return;
    }
}

bool CtolmiDlg::TrustCertificateAfter(const CInternetException& failure) {
    const QString server = m_strServer.trimmed();
    if (failure.m_dwError == CInternetException::kCertificateChanged)
        MessageBox(QString::fromUtf8(Messages::kCertificateChanged).arg(server));
    if (failure.m_dwError != CInternetException::kCertificateNotVerified ||
        !failure.m_certificate || m_monitor.IsCancelled())
        return false;
    const ServerCertificate& certificate = *failure.m_certificate;
    if (!m_prompter->AskToTrustCertificate(this, CertificateQuestion(server, certificate)))
        return false;
    m_tlsTrust.Pin(certificate.server, certificate.publicKeyPin);
    return true;
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
