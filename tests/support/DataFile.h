#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The rows of a tab-separated file under tests/data, comment lines ("#") left out, each cell with
// the escapes "\t", "\n", "\r", "\\" and "\xNN" turned back into bytes.
QList<QList<QByteArray>> ReadDataRows(const QString& fileName);
