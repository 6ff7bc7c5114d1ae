#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

// What this run has learnt about servers' TLS, kept in memory only: which servers (by
// ServerKey) completed a TLS handshake, and whose certificate or SSH key the user chose to
// trust. The window's thread and the worker both use it.
class TlsTrust {
public:
    // A certificate authority trusted besides the system's store; empty: the store alone.
    void SetAuthorityFile(const QString& path);
    QString AuthorityFile() const;

    // A server that spoke TLS once must not be found without it later in the run.
    void RememberTls(const QByteArray& server);
    bool HadTls(const QByteArray& server) const;

    // `pin` is libcurl's "sha256//..." form of the trusted certificate's public key.
    void Pin(const QByteArray& server, const QByteArray& pin);
    // Empty when the user trusted no certificate of this server.
    QByteArray PinFor(const QByteArray& server) const;

    // `sha256` is the unpadded base64 SHA-256 of the SSH key the user trusted.
    void PinHostKey(const QByteArray& server, const QByteArray& sha256);
    // Empty when the user trusted no SSH key of this server.
    QByteArray HostKeyFor(const QByteArray& server) const;

private:
    mutable QMutex m_mutex;
    QString m_authorityFile;
    QSet<QByteArray> m_hadTls;
    QHash<QByteArray, QByteArray> m_pins;
    QHash<QByteArray, QByteArray> m_hostKeys;
};
