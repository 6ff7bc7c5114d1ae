#include "ftp/CInternetException.h"

#include <string>

namespace {

std::string Describe(const FtpResult& result) {
    switch (result.Reason()) {
    case FtpReason::Done:
        return "no failure";
    case FtpReason::Refused:
        return "refused by the server: " + result.ReplyText().toStdString();
    case FtpReason::Unreachable:
        return "no server answers there";
    case FtpReason::TimedOut:
        return "the server did not answer in time";
    case FtpReason::CutOff:
        return "the connection broke off";
    case FtpReason::BadReply:
        return "the server's reply made no sense";
    case FtpReason::NotEncrypted:
        return "the server no longer offers TLS";
    case FtpReason::CertificateNotTrusted:
        return "the server's certificate is not trusted";
    case FtpReason::CertificateChanged:
        return "the server's certificate differs from the one trusted earlier";
    case FtpReason::HostKeyUnknown:
        return "the server's SSH key is not known";
    case FtpReason::HostKeyChanged:
        return "the server's SSH key differs from the one known or trusted";
    case FtpReason::Cancelled:
        return "cancelled";
    case FtpReason::LocalFile:
        return "the local file failed";
    case FtpReason::UnusableText:
        return "unusable server, login name or password";
    }
    return {};
}

} // namespace

CInternetException::CInternetException(FtpResult result,
                                       std::optional<ServerCertificate> certificate,
                                       std::optional<ServerHostKey> hostKey)
    : std::runtime_error(Describe(result)), m_result(std::move(result)),
      m_certificate(std::move(certificate)), m_hostKey(std::move(hostKey)) {}
