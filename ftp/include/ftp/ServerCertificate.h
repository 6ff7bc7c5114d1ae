#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// Why a server's certificate did not verify.
enum class CertificateProblem { SelfSigned, UnknownIssuer, Expired, NotYetValid, WrongName, Other };

// What the user needs to decide whether to trust a server's certificate.
struct ServerCertificate {
    QByteArray server; // "host:port"
    CertificateProblem problem = CertificateProblem::Other;
    QString subject;
    QString issuer;
    QDateTime validFrom;
    QDateTime validUntil;
    QString sha256Fingerprint; // "AB:CD:…"
    QByteArray publicKeyPin;   // libcurl's "sha256//…" pin of the public key

    // The first certificate of a PEM chain as the server sent it; nothing when unreadable.
    static std::optional<ServerCertificate> FromPem(const QByteArray& pem);
};
