#pragma once

#include "ftp/FtpTimeouts.h"
#include "ftp/MlsdSupport.h"
#include "ftp/TlsTrust.h"
#include "ftp/TransferMonitor.h"

#include <QString>
#include <memory>

class CFtpConnection;

// Opens logged-in FTP and SFTP connections.
class CInternetSession {
public:
    static constexpr quint16 kDefaultFtpPort = 21;

    // `monitor`, when given, sees the progress of the connections' work and can cancel it.
    // `trust`, when given, is what the run knows about servers' TLS; else nothing is known.
    // `mlsd`, when given, is what the run knows of servers without MLSD; it must outlive the
    // connections. The first session starts the FTP library: make it on the main thread.
    explicit CInternetSession(FtpTimeouts timeouts = {}, TransferMonitor* monitor = nullptr,
                              TlsTrust* trust = nullptr, MlsdSupport* mlsd = nullptr);

    // Logs in to `server` (which may carry its own port and scheme), over TLS whenever the
    // server offers it. An empty login name logs in as anonymous, over SFTP as the local user.
    // Throws CInternetException when no logged-in connection can be had; text holding CR, LF
    // or NUL is refused before anything is sent, and so is everything after a certificate or
    // SSH key that is not trusted.
    std::unique_ptr<CFtpConnection> GetFtpConnection(const QString& server, const QString& user,
                                                     const QString& password,
                                                     quint16 port = kDefaultFtpPort) const;

private:
    FtpTimeouts m_timeouts;
    TransferMonitor* m_monitor;
    TlsTrust m_ownTrust;
    TlsTrust& m_trust;
    MlsdSupport* m_mlsd;
};
