#pragma once

#include "ftp/ServerCertificate.h"
#include "ftp/ServerHostKey.h"

#include <QString>

// The question put to the user about a certificate that did not verify on `server`.
QString CertificateQuestion(const QString& server, const ServerCertificate& certificate);

// The question put to the user about an SSH key of `server` that no known-hosts file names.
QString HostKeyQuestion(const QString& server, const ServerHostKey& key);
