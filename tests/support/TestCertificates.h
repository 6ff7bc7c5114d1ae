#pragma once

#include <QString>
#include <QTemporaryDir>

// Certificates for 127.0.0.1 unless said, each server file with its key, made for one test run.
class TestCertificates {
public:
    // Why they could not be made; empty once they are.
    QString Generate();

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
