#include "ftp/TlsTrust.h"

#include <QMutexLocker>

void TlsTrust::SetAuthorityFile(const QString& path) {
    const QMutexLocker lock(&m_mutex);
    m_authorityFile = path;
}

QString TlsTrust::AuthorityFile() const {
    const QMutexLocker lock(&m_mutex);
    return m_authorityFile;
}

void TlsTrust::RememberTls(const QByteArray& server) {
    const QMutexLocker lock(&m_mutex);
    m_hadTls.insert(server);
}

bool TlsTrust::HadTls(const QByteArray& server) const {
    const QMutexLocker lock(&m_mutex);
    return m_hadTls.contains(server);
}

void TlsTrust::Pin(const QByteArray& server, const QByteArray& pin) {
    const QMutexLocker lock(&m_mutex);
    m_pins.insert(server, pin);
}

QByteArray TlsTrust::PinFor(const QByteArray& server) const {
    const QMutexLocker lock(&m_mutex);
    return m_pins.value(server);
}

void TlsTrust::PinHostKey(const QByteArray& server, const QByteArray& sha256) {
    const QMutexLocker lock(&m_mutex);
    m_hostKeys.insert(server, sha256);
}

QByteArray TlsTrust::HostKeyFor(const QByteArray& server) const {
    const QMutexLocker lock(&m_mutex);
    return m_hostKeys.value(server);
}
