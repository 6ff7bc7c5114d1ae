#include "HostKeyCheck.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <sys/mman.h>

namespace {

QByteArray ReadKnownHosts() {
    QByteArray hosts;
    for (const QString& path :
         {QDir::homePath() + "/.ssh/known_hosts", QStringLiteral("/etc/ssh/ssh_known_hosts")}) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            hosts += file.readAll() + '\n';
    }
    return hosts;
}

// The key blob starts with its type's name.
QByteArray KeyType(const QByteArray& blob) {
    if (blob.size() < 4)
        return {};
    const quint32 length = qFromBigEndian<quint32>(blob.constData());
    return length <= static_cast<quint32>(blob.size() - 4) ? blob.mid(4, length) : QByteArray();
}

} // namespace

HostKeyCheck::HostKeyCheck(QByteArray server, QByteArray trustedSha256)
    : m_server(std::move(server)), m_trustedSha256(std::move(trustedSha256)),
      m_knownHosts(::memfd_create("known_hosts", MFD_CLOEXEC)) {
    const QByteArray hosts = ReadKnownHosts();
    if (m_knownHosts.IsOpen() && ::write(m_knownHosts.Get(), hosts.constData(),
                                         static_cast<size_t>(hosts.size())) == hosts.size())
        m_knownHostsPath = "/proc/self/fd/" + QByteArray::number(m_knownHosts.Get());
}

void HostKeyCheck::Apply(CURL* curl) {
    // Without a known-hosts file libcurl would take any key; an empty one knows no key.
    curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS,
                     m_knownHostsPath.isEmpty() ? "/dev/null" : m_knownHostsPath.constData());
    curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, Decide);
    curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);
    if (!m_trustedSha256.isEmpty())
        curl_easy_setopt(curl, CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, m_trustedSha256.constData());
}

int HostKeyCheck::Decide(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match,
                         void* self) {
    auto* check = static_cast<HostKeyCheck*>(self);
    const QByteArray blob = found->len ? QByteArray(found->key, static_cast<qsizetype>(found->len))
                                       : QByteArray::fromBase64(found->key);
    const QByteArray sha256 = QCryptographicHash::hash(blob, QCryptographicHash::Sha256)
                                  .toBase64(QByteArray::OmitTrailingEquals);
    // Never CURLKHSTAT_FINE_ADD_TO_FILE: that would write the file.
    if (check->m_trustedSha256.isEmpty() ? match == CURLKHMATCH_OK
                                         : sha256 == check->m_trustedSha256)
        return CURLKHSTAT_FINE;
    check->m_changed = match == CURLKHMATCH_MISMATCH || !check->m_trustedSha256.isEmpty();
    if (!check->m_changed)
        check->m_unknownKey = ServerHostKey{check->m_server, KeyType(blob), sha256};
    return CURLKHSTAT_REJECT;
}

FtpReason HostKeyCheck::Refusal() const {
    // libcurl refuses a key that differs from the trusted one before it asks.
    return m_changed || !m_trustedSha256.isEmpty() ? FtpReason::HostKeyChanged
                                                   : FtpReason::HostKeyUnknown;
}
