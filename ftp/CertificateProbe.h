#pragma once

#include "ftp/FtpTimeouts.h"
#include "ftp/ServerCertificate.h"
#include "ftp/TlsTrust.h"
#include "ftp/TransferMonitor.h"
#include "listing/ServerAddress.h"

#include <optional>

// Fetches the certificate of a server whose certificate did not verify, without logging in:
// the connection ends right after the TLS handshake. Like a login, it is cancelled through
// `monitor` and remembers in `trust` that the server spoke TLS.
std::optional<ServerCertificate> ProbeCertificate(const ServerAddress& address,
                                                  const FtpTimeouts& timeouts,
                                                  TransferMonitor* monitor, TlsTrust& trust);
