#include "ftp/CInternetException.h"

#include <curl/curl.h>
#include <string>

namespace {

std::string Describe(int error) {
    if (error == CInternetException::kRefusedInput)
        return "unusable server, login name or password";
    return curl_easy_strerror(static_cast<CURLcode>(error));
}

} // namespace

CInternetException::CInternetException(int error)
    : std::runtime_error(Describe(error)), m_dwError(error) {}
