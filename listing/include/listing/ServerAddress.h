#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// How a connection speaks TLS.
enum class TlsMode {
    Opportunistic, // AUTH TLS when the server offers it, clear text otherwise
    Required,      // AUTH TLS or no login at all
    Implicit,      // TLS from the first byte, on its own port
};

// The server field: "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 literal, optionally
// behind "ftp://", "ftpes://" (TLS required), "ftps://" (implicit TLS, port 990) or "sftp://"
// (SSH, port 22) and followed by a path, which is ignored.
struct ServerAddress {
    static constexpr quint16 kImplicitTlsPort = 990;
    static constexpr quint16 kSftpPort = 22;

    QByteArray host; // without brackets
    quint16 port = 21;
    bool isIpv6 = false;
    TlsMode tls = TlsMode::Opportunistic;
    bool isSftp = false;

    // Empty, malformed or out-of-range text gives nothing; blanks around it are ignored.
    [[nodiscard]] static std::optional<ServerAddress> Parse(const QString& text,
                                                            quint16 defaultPort);

    // "ftp://host:port/" ("ftps://" for implicit TLS, "sftp://host:port/~/" for the SSH login
    // directory), brackets around an IPv6 literal.
    QByteArray BaseUrl() const;
    // What this run remembers about the server is kept under this key (see ServerKey).
    QByteArray Key() const;
};
