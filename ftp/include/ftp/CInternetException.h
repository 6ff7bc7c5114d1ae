#pragma once

#include "ftp/FtpResult.h"
#include "ftp/ServerCertificate.h"
#include "ftp/ServerHostKey.h"

#include <optional>
#include <stdexcept>

// A connection that could not be opened: the server text is not usable, the host does not
// answer, its certificate or SSH key is not trusted, or the login is refused.
class CInternetException : public std::runtime_error {
public:
    explicit CInternetException(FtpResult result,
                                std::optional<ServerCertificate> certificate = std::nullopt,
                                std::optional<ServerHostKey> hostKey = std::nullopt);

    FtpResult m_result;
    // What the server sent, for a certificate that did not verify.
    std::optional<ServerCertificate> m_certificate;
    // What the server offered, for an SSH key that no known-hosts file names.
    std::optional<ServerHostKey> m_hostKey;
};
