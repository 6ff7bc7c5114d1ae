#include "tests/support/HostileServer.h"

#include "tests/support/TestServer.h"

#include <QFile>

HostileServer::HostileServer(const QString& scenario, const QString& listing)
    : m_scenario(scenario), m_listing(listing) {}

HostileServer::~HostileServer() {
    StopProcess(m_process);
}

bool HostileServer::Start(QString& error) {
    return StartPythonServer(m_process,
                             {QStringLiteral(TOLMI_SOURCE_DIR "/tests/servers/hostile_server.py"),
                              m_scenario, "--listing", m_listing, "--log",
                              m_dir.filePath("commands.log")},
                             m_port, error);
}

QStringList HostileServer::Commands() const {
    QFile log(m_dir.filePath("commands.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
