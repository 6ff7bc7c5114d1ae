#include "ftp/TransferMonitor.h"

void TransferMonitor::Reset() {
    m_cancelled = false;
    m_done = 0;
    m_total = 0;
    m_expectedTotal = 0;
    m_entries = 0;
    m_tlsMinorVersion = kNotConnected;
}

void TransferMonitor::SetTlsVersion(const QByteArray& version) {
    static const QByteArray kPrefix = "TLSv1.";
    if (version.isEmpty())
        m_tlsMinorVersion = kClearText;
    else if (version.startsWith(kPrefix))
        m_tlsMinorVersion = version.mid(kPrefix.size()).toInt();
    else // OpenSSL's name of TLS 1.0 is "TLSv1"
        m_tlsMinorVersion = 0;
}

void TransferMonitor::SetBytes(qint64 done, qint64 total) {
    m_done = done;
    m_total = total;
}

qint64 TransferMonitor::BytesTotal() const {
    const qint64 total = m_total;
    return total > 0 ? total : m_expectedTotal.load();
}
