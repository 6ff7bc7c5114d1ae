#include "ftp/CertificateProbe.h"

#include "ftp/CurlEasy.h"

namespace {

// A pin no key has: the handshake completes, the pin check fails before the login is sent,
// and libcurl keeps the certificate chain it saw.
constexpr const char* kImpossiblePin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

// OpenSSL's X509_V_ERR_* values.
CertificateProblem ProblemOf(long verifyResult) {
    switch (verifyResult) {
    case 0: // the chain verified: libcurl's own host name check failed
    case 62:
    case 64:
        return CertificateProblem::WrongName;
    case 9:
        return CertificateProblem::NotYetValid;
    case 10:
        return CertificateProblem::Expired;
    case 18:
    case 19:
        return CertificateProblem::SelfSigned;
    case 2:
    case 20:
    case 21:
        return CertificateProblem::UnknownIssuer;
    default:
        return CertificateProblem::Other;
    }
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
                                                  const FtpTimeouts& timeouts, long verifyResult) {
    TlsTrust nothingTrusted;
    ServerAddress tlsOnly = address;
    if (tlsOnly.tls == TlsMode::Opportunistic)
        tlsOnly.tls = TlsMode::Required;
    CurlEasy probe(tlsOnly, {}, {}, timeouts, nullptr, nothingTrusted);
    CURL* curl = probe.Begin(probe.BaseUrl());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, kImpossiblePin);
    if (probe.Perform() != CURLE_SSL_PINNEDPUBKEYNOTMATCH)
        return std::nullopt;
    auto certificate = ServerCertificate::FromPem(PemChain(curl));
    if (certificate) {
        certificate->server = address.Key();
        certificate->problem = ProblemOf(verifyResult);
    }
    return certificate;
}
