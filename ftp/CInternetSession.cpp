#include "ftp/CInternetSession.h"

#include "CertificateProbe.h"
#include "CurlEasy.h"
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "listing/RemoteName.h"
#include "listing/ServerAddress.h"

CInternetSession::CInternetSession(FtpTimeouts timeouts, TransferMonitor* monitor, TlsTrust* trust,
                                   MlsdSupport* mlsd)
    : m_timeouts(timeouts), m_monitor(monitor), m_trust(trust ? *trust : m_ownTrust), m_mlsd(mlsd) {
    CurlEasy::InitializeLibrary();
}

std::unique_ptr<CFtpConnection> CInternetSession::GetFtpConnection(const QString& server,
                                                                   const QString& user,
                                                                   const QString& password,
                                                                   quint16 port) const {
    if (!RemoteName::IsSendable(server) || !RemoteName::IsSendable(user) ||
        !RemoteName::IsSendable(password))
        throw CInternetException(FtpResult(FtpReason::UnusableText));
    const auto address = ServerAddress::Parse(server, port);
    if (!address)
        throw CInternetException(FtpResult(FtpReason::Unreachable));

    auto easy = std::make_unique<CurlEasy>(*address, user.toUtf8(), password.toUtf8(), m_timeouts,
                                           m_monitor, m_trust);
    // Without a handle no connection can be made at all.
    if (!easy->IsValid())
        throw CInternetException(FtpResult(FtpReason::Unreachable));
    FtpResult result = easy->Outcome(easy->Login());
    if (result.Reason() == FtpReason::CertificateNotTrusted) {
        auto certificate = ProbeCertificate(*address, m_timeouts, m_monitor, m_trust);
        throw CInternetException(std::move(result), std::move(certificate));
    }
    if (!result)
        throw CInternetException(std::move(result), std::nullopt, easy->UnknownHostKey());
    if (m_monitor && address->isSftp)
        m_monitor->SetSsh();
    else if (m_monitor)
        m_monitor->SetTlsVersion(easy->TlsVersion());
    return std::make_unique<CFtpConnection>(std::move(easy), m_mlsd, address->Key());
}
