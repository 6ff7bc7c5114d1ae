#include "listing/ServerAddress.h"

#include "listing/ServerKey.h"

#include <arpa/inet.h>

namespace {

bool IsIpv6Literal(const QByteArray& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.constData(), &address) == 1;
}

// Letters, digits, '-', '.', '_' and non-ASCII bytes (international names); nothing that
// could change the meaning of a URL.
bool IsHostName(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte >= 0x80;
        if (!plain)
            return false;
    }
    return true;
}

std::optional<quint16> ParsePort(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

// Takes a known scheme off the front; false for any other scheme.
bool TakeScheme(QByteArray& bytes, ServerAddress& address) {
    const qsizetype end = bytes.indexOf("://");
    if (end < 0)
        return true;
    const QByteArray scheme = bytes.left(end).toLower();
    if (scheme == "ftpes")
        address.tls = TlsMode::Required;
    else if (scheme == "ftps")
        address.tls = TlsMode::Implicit;
    else if (scheme == "sftp")
        address.isSftp = true;
    else if (scheme != "ftp")
        return false;
    bytes = bytes.mid(end + 3);
    // Only the server counts: every command works in the login directory.
    const qsizetype path = bytes.indexOf('/');
    if (path >= 0)
        bytes.truncate(path);
    return true;
}

} // namespace

std::optional<ServerAddress> ServerAddress::Parse(const QString& text, quint16 defaultPort) {
    QByteArray bytes = text.trimmed().toUtf8();
    ServerAddress address;
    if (!TakeScheme(bytes, address))
        return std::nullopt;
    address.port = address.tls == TlsMode::Implicit ? kImplicitTlsPort
                   : address.isSftp                 ? kSftpPort
                                                    : defaultPort;

    if (bytes.startsWith('[')) {
        const qsizetype close = bytes.indexOf(']');
        if (close < 0)
            return std::nullopt;
        address.host = bytes.mid(1, close - 1);
        address.isIpv6 = true;
        const QByteArray rest = bytes.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return std::nullopt;
            const auto port = ParsePort(rest.mid(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
        if (!IsIpv6Literal(address.host))
            return std::nullopt;
        return address;
    }

    const qsizetype colons = bytes.count(':');
    if (colons > 1) {
        if (!IsIpv6Literal(bytes))
            return std::nullopt;
        address.host = bytes;
        address.isIpv6 = true;
        return address;
    }
    address.host = bytes;
    if (colons == 1) {
        const qsizetype colon = bytes.indexOf(':');
        address.host = bytes.left(colon);
        const auto port = ParsePort(bytes.mid(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    if (!IsHostName(address.host))
        return std::nullopt;
    return address;
}

QByteArray ServerAddress::Key() const {
    return ServerKey(host, port);
}

QByteArray ServerAddress::BaseUrl() const {
    // The host as typed: a trailing dot, for one, changes how the resolver looks the name up.
    const QByteArray where = isIpv6 ? "[" + host + "]" : host.toLower();
    const QByteArray hostAndPort = where + ":" + QByteArray::number(port);
    if (isSftp)
        return "sftp://" + hostAndPort + "/~/";
    return (tls == TlsMode::Implicit ? "ftps://" : "ftp://") + hostAndPort + "/";
}
