#pragma once

#include <QProcess>
#include <QTemporaryDir>

// OpenSSH's sshd on 127.0.0.1 at a free port with its own configuration, host key and log, for
// a throw-away account. Needs root.
class SshServer {
public:
    ~SshServer();
    bool Start(QString& error);

    QString Address() const { return "sftp://127.0.0.1:" + QString::number(m_port); }
    QString User() const { return m_user; }
    QString Home() const { return m_dir.filePath("home"); }
    QString HostKey() const { return m_dir.filePath("host_key.pub"); }
    QByteArray Log() const;
    // The process serving the latest login.
    qint64 SessionPid() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_user;
};

// A program's standard output, empty when it failed.
QByteArray Run(const QString& program, const QStringList& arguments);
