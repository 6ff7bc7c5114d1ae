#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The scripted misbehaving server (tests/servers/hostile_server.py) playing one scenario.
class HostileServer {
public:
    // `options` are the script's own (--tls and the like).
    HostileServer(const QString& scenario, const QString& listing, QStringList options = {});
    ~HostileServer();

    bool Start(QString& error);
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QStringList Commands() const;

private:
    QString m_scenario;
    QString m_listing;
    QStringList m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
