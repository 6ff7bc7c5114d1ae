#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <utility>

namespace {

const QStringList kNewKey = {"-newkey", "rsa:2048", "-nodes", "-days", "2"};
const QString kServerName = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1");

QByteArray RunOpenssl(const QString& directory, const QStringList& arguments, QString& error) {
    QProcess openssl;
    openssl.setWorkingDirectory(directory);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (openssl.waitForFinished(30000) && openssl.exitCode() == 0)
        return openssl.readAllStandardOutput() + '\n';
    error = "openssl " + arguments.join(' ') + ": " + openssl.readAllStandardError();
    return {};
}

} // namespace

bool TestCertificates::Openssl(const QStringList& arguments, QString& error) const {
    return !RunOpenssl(m_dir.path(), arguments, error).isEmpty();
}

QString TestCertificates::Sha256Fingerprint(const QString& pem) const {
    QString error;
    const QByteArray out =
        RunOpenssl(m_dir.path(), {"x509", "-noout", "-fingerprint", "-sha256", "-in", pem}, error);
    return QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed());
}

bool TestCertificates::Join(const QString& certificate, const QString& key,
                            const QString& into) const {
    QFile out(m_dir.filePath(into));
    QFile first(m_dir.filePath(certificate));
    QFile second(m_dir.filePath(key));
    return out.open(QIODevice::WriteOnly) && first.open(QIODevice::ReadOnly) &&
           second.open(QIODevice::ReadOnly) && out.write(first.readAll() + second.readAll()) > 0;
}

bool TestCertificates::SignByAuthority(const QString& name, const QString& subject,
                                       const QString& names, QString& error) const {
    return Openssl(QStringList{"req"} + kNewKey +
                       QStringList{"-subj", subject, "-addext", names, "-keyout", name + ".key",
                                   "-out", name + ".csr"},
                   error) &&
           Openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                    "-CAcreateserial", "-days", "2", "-copy_extensions", "copy", "-out",
                    name + ".crt"},
                   error) &&
           Join(name + ".crt", name + ".key", name + ".pem");
}

bool TestCertificates::Generate(QString& error) {
    const QStringList selfSigned = QStringList{"req", "-x509"} + kNewKey;
    const QList<std::pair<QString, QString>> subjects = {
        {"self0", "/CN=localhost/O=tolmi test self0"},
        {"self1", "/CN=localhost/O=tolmi test self1"},
        {"break", "/CN=localhost\nforged line"}};
    for (const auto& [name, subject] : subjects) {
        if (!Openssl(selfSigned + QStringList{"-subj", subject, "-addext", kServerName, "-keyout",
                                              name + ".key", "-out", name + ".crt"},
                     error) ||
            !Join(name + ".crt", name + ".key", name + ".pem"))
            return false;
    }
    return Openssl(selfSigned + QStringList{"-subj", "/CN=tolmi test CA", "-keyout", "ca.key",
                                            "-out", "ca.pem"},
                   error) &&
           SignByAuthority("signed", "/CN=localhost", kServerName, error) &&
           SignByAuthority("other", "/CN=elsewhere.example", "subjectAltName=DNS:elsewhere.example",
                           error);
}
