#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The server field: "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 literal.
struct ServerAddress {
    QByteArray host; // without brackets
    quint16 port = 21;
    bool isIpv6 = false;

    // Empty, malformed or out-of-range text gives nothing.
    [[nodiscard]] static std::optional<ServerAddress> Parse(const QString& text,
                                                            quint16 defaultPort);

    // "ftp://host:port/", brackets around an IPv6 literal.
    QByteArray BaseUrl() const;
};
