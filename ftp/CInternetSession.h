#pragma once

#include "ftp/FtpTimeouts.h"
#include "ftp/TransferMonitor.h"

#include <QString>
#include <memory>

class CFtpConnection;

// Opens logged-in FTP connections.
class CInternetSession {
public:
    static constexpr quint16 kDefaultFtpPort = 21;

    // `monitor`, when given, sees the progress of the connections' work and can cancel it.
    // The first session starts the FTP library: make it on the main thread.
    explicit CInternetSession(FtpTimeouts timeouts = {}, TransferMonitor* monitor = nullptr);

    // Logs in to `server` (which may carry its own port). An empty login name logs in as
    // anonymous. Throws CInternetException when no logged-in connection can be had; text
    // holding CR, LF or NUL is refused before anything is sent.
    std::unique_ptr<CFtpConnection> GetFtpConnection(const QString& server, const QString& user,
                                                     const QString& password,
                                                     quint16 port = kDefaultFtpPort) const;

private:
    FtpTimeouts m_timeouts;
    TransferMonitor* m_monitor;
};
