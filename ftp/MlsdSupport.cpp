#include "ftp/MlsdSupport.h"

#include <QMutexLocker>

void MlsdSupport::RememberRefused(const QByteArray& server) {
    const QMutexLocker lock(&m_mutex);
    m_refused.insert(server);
}

bool MlsdSupport::IsRefused(const QByteArray& server) const {
    const QMutexLocker lock(&m_mutex);
    return m_refused.contains(server);
}
