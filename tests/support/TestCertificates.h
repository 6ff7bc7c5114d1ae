#pragma once

#include <QString>
#include <QTemporaryDir>

// Certificates made with openssl for one test run, for 127.0.0.1 unless said: a certificate
// authority of the test's own and server certificates it signed (one for another name), two
// self-signed ones, and one whose subject holds a line break. Each server file holds the
// certificate and its key.
class TestCertificates {
public:
    bool Generate(QString& error);

    QString Authority() const { return m_dir.filePath("ca.pem"); }
    QString Signed() const { return m_dir.filePath("signed.pem"); }
    QString SignedForOtherName() const { return m_dir.filePath("other.pem"); }
    QString LineBreakInSubject() const { return m_dir.filePath("break.pem"); }
    QString SelfSigned(int which) const { return m_dir.filePath(QString("self%1.pem").arg(which)); }
    // "AB:CD:…", as openssl computes it.
    QString Sha256Fingerprint(const QString& pem) const;

private:
    QTemporaryDir m_dir;
};
