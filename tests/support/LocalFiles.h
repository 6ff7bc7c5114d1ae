#pragma once

#include <QByteArray>
#include <QFile>
#include <QTest>

// Local files as the tests write and read them.
inline QByteArray ReadLocal(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void WriteLocal(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}
