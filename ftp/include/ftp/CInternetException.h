#pragma once

#include "ftp/ServerCertificate.h"

#include <optional>
#include <stdexcept>

// A connection that could not be opened: the server text is not usable, the host does not
// answer, its certificate is not trusted, or the login is refused.
class CInternetException : public std::runtime_error {
public:
    // Codes are libcurl's, besides these of the layer's own.
    static constexpr int kRefusedInput = -1;           // text that was not sent at all
    static constexpr int kCertificateNotVerified = -2; // m_certificate says what the server sent
    static constexpr int kCertificateChanged = -3;     // not the key trusted earlier in this run

    explicit CInternetException(int error,
                                std::optional<ServerCertificate> certificate = std::nullopt);

    int m_dwError;
    std::optional<ServerCertificate> m_certificate;
};
