#pragma once

#include "ftp/FtpTimeouts.h"

#include <QString>
#include <memory>

class CFtpConnection;

// Opens logged-in FTP connections.
class CInternetSession {
public:
    static constexpr quint16 kDefaultFtpPort = 21;

    explicit CInternetSession(FtpTimeouts timeouts = {}) : m_timeouts(timeouts) {}

    // Logs in to `server` (which may carry its own port). An empty login name logs in as
    // anonymous. Throws CInternetException when no logged-in connection can be had; text
    // holding CR, LF or NUL is refused before anything is sent.
    std::unique_ptr<CFtpConnection> GetFtpConnection(const QString& server, const QString& user,
                                                     const QString& password,
                                                     quint16 port = kDefaultFtpPort) const;

private:
    FtpTimeouts m_timeouts;
};
