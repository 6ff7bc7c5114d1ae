#pragma once

#include <QByteArray>

// What the user needs to decide whether to trust an SSH server's key.
struct ServerHostKey {
    QByteArray server; // as ServerKey writes it
    QByteArray type;   // as known_hosts names it: "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    QByteArray sha256; // unpadded base64 of the SHA-256 of the key, libcurl's pin form

    // As OpenSSH writes it.
    QByteArray Fingerprint() const { return "SHA256:" + sha256; }
};
