#pragma once

#include "support/TestServer.h"

// OpenSSH's sshd with its own configuration, host key and log, for a throw-away account, as root.
class SshServer : public ServerProcess {
public:
    ~SshServer();
    QString Start() override;

    QString Address() const { return "sftp://" + ServerProcess::Address(); }
    QString User() const { return m_user; }
    QString Home() const { return m_dir.filePath("home"); }
    QString HostKey() const { return m_dir.filePath("host_key.pub"); }
    QByteArray Log() const { return ReadLog("log"); }
    // The process serving the latest login.
    int SessionPid() const;

private:
    QString m_user;
};
