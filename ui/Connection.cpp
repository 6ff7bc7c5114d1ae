#include "ui/CtolmiDlg.h"

#include "CertificateQuestion.h"
#include "Messages.h"
#include "ftp/CInternetException.h"
#include "listing/RemoteName.h"

namespace {

// What a login on the worker gives back: a connection, or why there is none.
struct LoginOutcome {
    std::unique_ptr<CFtpConnection> connection;
    std::optional<CInternetException> failure;
};

} // namespace

// Every command logs in afresh and releases everything before it returns: no connection and
// no remote state outlive a command.

FtpResult CtolmiDlg::OpenConnection() {
    m_pConnection.reset();
    m_monitor.Reset();
    // A window closed while the command asked something cancels what follows, too.
    if (m_bCloseRequested)
        m_monitor.Cancel();
    m_pSession =
        std::make_unique<CInternetSession>(m_ftpTimeouts, &m_monitor, &m_tlsTrust, &m_mlsdSupport);
    // A certificate or SSH key the user trusts gets one more login, pinned to it.
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
        if (!outcome.failure)
            return FtpResult();
        if (!TrustServerAfter(*outcome.failure))
            return outcome.failure->m_result;
    }
    return FtpResult(FtpReason::CertificateNotTrusted);
}

bool CtolmiDlg::TrustServerAfter(const CInternetException& failure) {
    const QString server = m_strServer.trimmed();
    const FtpReason reason = failure.m_result.Reason();
    if (reason == FtpReason::CertificateChanged)
        MessageBox(QString::fromUtf8(Messages::kCertificateChanged).arg(server));
    if (reason == FtpReason::HostKeyChanged)
        MessageBox(QString::fromUtf8(Messages::kHostKeyChanged).arg(server));
    if (m_monitor.IsCancelled())
        return false;
    const auto& certificate = failure.m_certificate;
    if (reason == FtpReason::CertificateNotTrusted && certificate &&
        m_prompter->AskToTrust(this, CertificateQuestion(server, *certificate))) {
        m_tlsTrust.Pin(certificate->server, certificate->publicKeyPin);
        return true;
    }
    const auto& key = failure.m_hostKey;
    if (reason == FtpReason::HostKeyUnknown && key &&
        m_prompter->AskToTrust(this, HostKeyQuestion(server, *key))) {
        m_tlsTrust.PinHostKey(key->server, key->sha256);
        return true;
    }
    return false;
}

FtpResult CtolmiDlg::EnterDirectory(const RemotePath& directory) {
    if (directory == RemotePath())
        return FtpResult();
    QByteArray path;
    for (const QByteArray& segment : directory.Segments())
        path += "/" + segment;
    return RunInBackground<FtpResult>(ProgressActivity::OpeningDirectory, RemoteName::Display(path),
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
