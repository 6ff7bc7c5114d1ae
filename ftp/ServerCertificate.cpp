#include "ftp/ServerCertificate.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>

std::optional<ServerCertificate> ServerCertificate::FromPem(const QByteArray& pem) {
    const QList<QSslCertificate> chain = QSslCertificate::fromData(pem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return std::nullopt;
    const QSslCertificate& leaf = chain.first();
    const QByteArray publicKey = leaf.publicKey().toDer();
    if (publicKey.isEmpty())
        return std::nullopt;
    ServerCertificate certificate;
    certificate.subject = leaf.subjectDisplayName();
    certificate.issuer = leaf.issuerDisplayName();
    certificate.validFrom = leaf.effectiveDate();
    certificate.validUntil = leaf.expiryDate();
    certificate.sha256Fingerprint =
        QString::fromLatin1(leaf.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
    certificate.publicKeyPin =
        "sha256//" + QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toBase64();
    return certificate;
}
