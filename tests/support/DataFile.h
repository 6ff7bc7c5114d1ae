#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The rows of a tab-separated file under tests/data, comment lines ("#") left out, each cell
// with its escapes ("\t", "\n", "\r", "\\", "\xNN") turned back into bytes.
QList<QList<QByteArray>> ReadDataRows(const QString& fileName);
