#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Remote names travel as the server's raw bytes; these turn them into text for the window and
// guard what may be sent back.
namespace RemoteName {

// UTF-8 when the bytes are valid UTF-8, else GB18030 (the encoding of Chinese servers that
// predate UTF-8); a CR shows as its visible symbol.
QString Display(const QByteArray& raw);

// False for bytes that would end or split an FTP command line (CR, LF, NUL): such text is
// never sent to a server.
[[nodiscard]] bool IsSendable(QByteArrayView bytes);
[[nodiscard]] bool IsSendable(const QString& text);

} // namespace RemoteName
