#include "ftp/ServerCertificate.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>

namespace {

// A certificate's text is the server's to choose: nothing in it may start a line or reorder
// what the question shows.
QString Printable(QString text) {
    text.removeIf([](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Other_Control || category == QChar::Other_Format ||
               category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
    });
    return text;
}

} // namespace

std::optional<ServerCertificate> ServerCertificate::FromPem(const QByteArray& pem) {
    const QList<QSslCertificate> chain = QSslCertificate::fromData(pem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return std::nullopt;
    const QSslCertificate& leaf = chain.first();
    const QByteArray publicKey = leaf.publicKey().toDer();
    if (publicKey.isEmpty())
        return std::nullopt;
    ServerCertificate certificate;
    certificate.subject = Printable(leaf.subjectDisplayName());
    certificate.issuer = Printable(leaf.issuerDisplayName());
    certificate.validFrom = leaf.effectiveDate();
    certificate.validUntil = leaf.expiryDate();
    certificate.sha256Fingerprint =
        QString::fromLatin1(leaf.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
    certificate.publicKeyPin =
        "sha256//" + QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toBase64();
    return certificate;
}
