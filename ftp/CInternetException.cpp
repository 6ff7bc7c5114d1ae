#include "ftp/CInternetException.h"

#include <curl/curl.h>
#include <string>

namespace {

std::string Describe(int error) {
    switch (error) {
    case CInternetException::kRefusedInput:
        return "unusable server, login name or password";
    case CInternetException::kCertificateNotVerified:
        return "the server's certificate is not trusted";
    case CInternetException::kCertificateChanged:
        return "the server's certificate differs from the one trusted earlier";
    default:
        break;
    }
    return curl_easy_strerror(static_cast<CURLcode>(error));
}

} // namespace

CInternetException::CInternetException(int error, std::optional<ServerCertificate> certificate)
    : std::runtime_error(Describe(error)), m_dwError(error), m_certificate(std::move(certificate)) {
}
