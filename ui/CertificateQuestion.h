#pragma once

#include "ftp/ServerCertificate.h"

#include <QString>

// The question put to the user about a certificate that did not verify on `server`.
QString CertificateQuestion(const QString& server, const ServerCertificate& certificate);
