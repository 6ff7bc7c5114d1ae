#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSet>

// Which servers (by ServerKey) refused MLSD in this run, kept in memory only: their later
// listings go straight to LIST, with one login per command. The window's thread and the
// worker both use it.
class MlsdSupport {
public:
    void RememberRefused(const QByteArray& server);
    bool IsRefused(const QByteArray& server) const;

private:
    mutable QMutex m_mutex;
    QSet<QByteArray> m_refused;
};
