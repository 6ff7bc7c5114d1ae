#pragma once

#include "UniqueFd.h"
#include "ftp/FtpResult.h"
#include "ftp/ServerHostKey.h"

#include <QByteArray>
#include <curl/curl.h>
#include <optional>

// Decides on an SSH server's key during the login, before any password or key is offered. A key
// that the user's or the system's known hosts name, or that the user trusted earlier in the run,
// passes; any other stops the login. The known-hosts files are read, never written.
class HostKeyCheck {
public:
    // `server` is the ServerKey, `trustedSha256` the key trusted in this run (empty: none).
    HostKeyCheck(QByteArray server, QByteArray trustedSha256);

    // Makes libcurl check the key of every connection it opens for the request.
    void Apply(CURL* curl);

    // Why the key was refused, after a login that failed on it.
    FtpReason Refusal() const;
    // The refused key, when it was not known at all.
    const std::optional<ServerHostKey>& UnknownKey() const { return m_unknownKey; }

private:
    static int Decide(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match,
                      void* self);

    QByteArray m_server;
    QByteArray m_trustedSha256;
    // Both files joined in memory: libcurl reads one file, and nothing may be written.
    UniqueFd m_knownHosts;
    QByteArray m_knownHostsPath;
    bool m_changed = false;
    std::optional<ServerHostKey> m_unknownKey;
};
