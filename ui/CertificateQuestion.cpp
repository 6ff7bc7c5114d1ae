#include "CertificateQuestion.h"

#include "Messages.h"

namespace {

const char* ProblemText(CertificateProblem problem) {
    switch (problem) {
    case CertificateProblem::SelfSigned:
        return Messages::kCertificateSelfSigned;
    case CertificateProblem::UnknownIssuer:
        return Messages::kCertificateUnknownIssuer;
    case CertificateProblem::Expired:
        return Messages::kCertificateExpired;
    case CertificateProblem::NotYetValid:
        return Messages::kCertificateNotYetValid;
    case CertificateProblem::WrongName:
        return Messages::kCertificateWrongName;
    case CertificateProblem::Other:
        break;
    }
    return Messages::kCertificateOther;
}

QString Date(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

QString CertificateQuestion(const QString& server, const ServerCertificate& certificate) {
    return QString::fromUtf8(Messages::kCertificateQuestion)
        .arg(server, QString::fromUtf8(ProblemText(certificate.problem)), certificate.subject,
             certificate.issuer, Date(certificate.validFrom), Date(certificate.validUntil),
             certificate.sha256Fingerprint);
}

QString HostKeyQuestion(const QString& server, const ServerHostKey& key) {
    return QString::fromUtf8(Messages::kHostKeyQuestion)
        .arg(server, QString::fromUtf8(key.type), QString::fromUtf8(key.Fingerprint()));
}
