#include "listing/ServerKey.h"

#include <QUrl>
#include <arpa/inet.h>

namespace {

// An address the resolver would read, written back as the system writes it; empty for a name.
QByteArray AddressForm(const QByteArray& host) {
    char text[INET6_ADDRSTRLEN] = {};
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.constData(), &v6) == 1 &&
        inet_ntop(AF_INET6, &v6, text, sizeof text))
        return "[" + QByteArray(text) + "]";
    // The resolver also takes the short and octal forms inet_aton reads ("127.1").
    in_addr v4{};
    if (inet_aton(host.constData(), &v4) != 0 && inet_ntop(AF_INET, &v4, text, sizeof text))
        return text;
    return {};
}

} // namespace

QByteArray ServerKey(const QByteArray& host, quint16 port) {
    QByteArray key = AddressForm(host);
    if (key.isEmpty()) {
        QByteArray name = host.endsWith('.') ? host.chopped(1) : host;
        const QByteArray ace = QUrl::toAce(QString::fromUtf8(name));
        key = (ace.isEmpty() ? name : ace).toLower();
    }
    return key + ":" + QByteArray::number(port);
}
