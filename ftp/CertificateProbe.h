#pragma once

#include "ftp/FtpTimeouts.h"
#include "ftp/ServerAddress.h"
#include "ftp/ServerCertificate.h"

#include <optional>

// Fetches the certificate of a server whose certificate did not verify, without logging in:
// the connection ends right after the TLS handshake. `verifyResult` is OpenSSL's verdict from
// the failed login.
std::optional<ServerCertificate> ProbeCertificate(const ServerAddress& address,
                                                  const FtpTimeouts& timeouts, long verifyResult);
