#include "listing/RemoteName.h"

#include <QStringDecoder>

namespace RemoteName {

namespace {

QString Decode(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
    if (gb18030.isValid()) {
        text = gb18030.decode(raw);
        if (!gb18030.hasError())
            return text;
    }
    return QString::fromUtf8(raw);
}

} // namespace

QString Display(const QByteArray& raw) {
    // A CR would vanish or break the line in the list: it is shown by its symbol.
    return Decode(raw).replace(QChar('\r'), QChar(0x240D));
}

bool IsSendable(QByteArrayView bytes) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

bool IsSendable(const QString& text) {
    return IsSendable(QByteArrayView(text.toUtf8()));
}

} // namespace RemoteName
