#include "support/DataFile.h"

#include <QFile>

namespace {

QByteArray Unescape(QByteArrayView text) {
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
        } else if (text[++i] == 'x') {
            bytes += char(text.sliced(i + 1, 2).toByteArray().toInt(nullptr, 16));
            i += 2;
        } else {
            const qsizetype named = QByteArrayView("tnr").indexOf(text[i]);
            bytes += named < 0 ? text[i] : "\t\n\r"[named];
        }
    }
    return bytes;
}

} // namespace

QList<QList<QByteArray>> ReadDataRows(const QString& fileName) {
    QFile file(TOLMI_SOURCE_DIR "/tests/data/" + fileName);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QList<QList<QByteArray>> rows;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().chopped(1);
        if (line.startsWith('#'))
            continue;
        QList<QByteArray> cells;
        for (const QByteArray& cell : line.split('\t'))
            cells << Unescape(cell);
        rows << cells;
    }
    return rows;
}
