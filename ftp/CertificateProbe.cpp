#include "CertificateProbe.h"

#include "CurlEasy.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <utility>

namespace {

// A pin no key has: the handshake completes, the pin check fails before the login is sent,
// and libcurl keeps the certificate chain it saw.
constexpr const char* kImpossiblePin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

// The most basic failure first: that nobody vouches for a chain says more than its name.
CertificateProblem ProblemOf(const QList<QSslError>& errors) {
    static const std::pair<QSslError::SslError, CertificateProblem> kByPrecedence[] = {
        {QSslError::SelfSignedCertificate, CertificateProblem::SelfSigned},
        {QSslError::SelfSignedCertificateInChain, CertificateProblem::SelfSigned},
        {QSslError::UnableToGetLocalIssuerCertificate, CertificateProblem::UnknownIssuer},
        {QSslError::UnableToGetIssuerCertificate, CertificateProblem::UnknownIssuer},
        {QSslError::UnableToVerifyFirstCertificate, CertificateProblem::UnknownIssuer},
        {QSslError::CertificateExpired, CertificateProblem::Expired},
        {QSslError::CertificateNotYetValid, CertificateProblem::NotYetValid},
        {QSslError::HostNameMismatch, CertificateProblem::WrongName},
    };
    for (const auto& [error, problem] : kByPrecedence) {
        for (const QSslError& found : errors) {
            if (found.error() == error)
                return problem;
        }
    }
    return CertificateProblem::Other;
}

// Qt checks a chain against the authorities of its default settings: the run's own authority
// joins the system's there. Set each time, as the authority may have changed.
QList<QSslError> Verify(const QByteArray& pem, const QString& host, const QString& authority) {
    QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
    if (!authority.isEmpty())
        authorities += QSslCertificate::fromPath(authority);
    QSslConfiguration settings = QSslConfiguration::defaultConfiguration();
    settings.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(settings);
    return QSslCertificate::verify(QSslCertificate::fromData(pem, QSsl::Pem), host);
}

QByteArray PemChain(CURL* curl) {
    curl_certinfo* info = nullptr;
    QByteArray pem;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info)
        return pem;
    for (int i = 0; i < info->num_of_certs; ++i) {
        for (curl_slist* field = info->certinfo[i]; field; field = field->next) {
            const QByteArray text(field->data);
            if (text.startsWith("Cert:"))
                pem += text.mid(5) + '\n';
        }
    }
    return pem;
}

} // namespace

std::optional<ServerCertificate> ProbeCertificate(const ServerAddress& address,
                                                  const FtpTimeouts& timeouts,
                                                  TransferMonitor* monitor, TlsTrust& trust) {
    ServerAddress tlsOnly = address;
    if (tlsOnly.tls == TlsMode::Opportunistic)
        tlsOnly.tls = TlsMode::Required;
    CurlEasy probe(tlsOnly, {}, {}, timeouts, monitor, trust);
    if (!probe.IsValid())
        return std::nullopt;
    CURL* curl = probe.Begin(probe.BaseUrl());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, kImpossiblePin);
    if (probe.Perform() != CURLE_SSL_PINNEDPUBKEYNOTMATCH)
        return std::nullopt;
    const QByteArray pem = PemChain(curl);
    auto certificate = ServerCertificate::FromPem(pem);
    if (certificate) {
        certificate->server = address.Key();
        // Checked again here, against the name and the authorities trusted: libcurl does not
        // tell why a certificate failed.
        certificate->problem =
            ProblemOf(Verify(pem, QString::fromUtf8(address.host), trust.AuthorityFile()));
    }
    return certificate;
}
