#include "support/TestCertificates.h"

#include "support/TestServer.h"

namespace {

// new NAME SUBJECT OPTIONS... makes a key and a certificate (or a request to sign) for it.
constexpr char kGenerate[] = R"(set -e; cd "$0"; ip=subjectAltName=DNS:localhost,IP:127.0.0.1
new() { n=$1 s=$2; shift 2; openssl req -newkey rsa:2048 -nodes -days 2 -subj "$s" -keyout $n.key "$@"; }
self() { new $1 "$2" -x509 -addext $ip -out $1.crt; cat $1.crt $1.key >$1.pem; }
signed() {
  new $1 "$2" -addext $3 -out $1.csr
  openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -copy_extensions copy -out $1.crt
  cat $1.crt $1.key >$1.pem
}
new ca "/CN=tolmi test CA" -x509 -out ca.pem
self self0 "/CN=localhost/O=tolmi test self0"; self self1 "/CN=localhost/O=tolmi test self1"
self break "/CN=localhost
forged line"
signed signed /CN=localhost $ip; signed other /CN=elsewhere.example subjectAltName=DNS:elsewhere.example)";

} // namespace

QString TestCertificates::Generate() {
    const bool made = !Run("sh", {"-c", kGenerate, m_dir.path()}).isEmpty();
    return made ? QString() : "openssl could not make the test certificates";
}

QString TestCertificates::Sha256Fingerprint(const QString& pem) const {
    const QByteArray out =
        Run("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", pem});
    return out.mid(out.indexOf('=') + 1).trimmed();
}
