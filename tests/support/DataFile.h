#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Text with the escapes "\t", "\n", "\r", "\\" and "\xNN" turned back into bytes.
QByteArray Unescape(QByteArrayView text);

// The rows of a tab-separated file under tests/data, comment lines ("#") left out, each cell
// unescaped.
QList<QList<QByteArray>> ReadDataRows(const QString& fileName);
