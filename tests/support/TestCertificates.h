#pragma once

#include <QString>
#include <QTemporaryDir>

// Certificates made with openssl for one test run, all for 127.0.0.1: a certificate authority
// of the test's own and a server certificate it signed, and two self-signed ones. Each server
// file holds the certificate and its key.
class TestCertificates {
public:
    bool Generate(QString& error);

    QString Authority() const { return m_dir.filePath("ca.pem"); }
    QString Signed() const { return m_dir.filePath("signed.pem"); }
    QString SelfSigned(int which) const { return m_dir.filePath(QString("self%1.pem").arg(which)); }
    // "AB:CD:…", as openssl computes it; empty on failure.
    QString Sha256Fingerprint(const QString& pem) const;

private:
    bool Openssl(const QStringList& arguments, QString& error) const;
    bool Join(const QString& certificate, const QString& key, const QString& into) const;

    QTemporaryDir m_dir;
};
