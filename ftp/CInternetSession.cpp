#include "ftp/CInternetSession.h"

#include "CertificateProbe.h"
#include "CurlEasy.h"
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "listing/RemoteName.h"
#include "listing/ServerAddress.h"

#include <curl/curl.h>

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
        throw CInternetException(CInternetException::kRefusedInput);
    const auto address = ServerAddress::Parse(server, port);
    if (!address)
        throw CInternetException(CURLE_COULDNT_RESOLVE_HOST);

    auto easy = std::make_unique<CurlEasy>(*address, user.toUtf8(), password.toUtf8(), m_timeouts,
                                           m_monitor, m_trust);
    if (!easy->IsValid())
        throw CInternetException(CURLE_FAILED_INIT);
    const CURLcode code = easy->Login();
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        auto certificate = ProbeCertificate(*address, m_timeouts, m_monitor, m_trust);
        if (certificate)
            throw CInternetException(CInternetException::kCertificateNotVerified, certificate);
    }
    if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
        throw CInternetException(CInternetException::kCertificateChanged);
    if (code != CURLE_OK)
        throw CInternetException(code);
    if (m_monitor)
        m_monitor->SetTlsVersion(easy->TlsVersion());
    return std::make_unique<CFtpConnection>(std::move(easy), m_mlsd, address->Key());
}
