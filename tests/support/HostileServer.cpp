#include "support/HostileServer.h"

#include "support/TestServer.h"

#include <QFile>
#include <utility>

HostileServer::HostileServer(const QString& scenario, const QString& listing, QStringList options)
    : m_scenario(scenario), m_listing(listing), m_options(std::move(options)) {}

HostileServer::~HostileServer() {
    StopProcess(m_process);
}

bool HostileServer::Start(QString& error) {
    const QStringList arguments = {
        QStringLiteral(TOLMI_SOURCE_DIR "/tests/servers/hostile_server.py"),
        m_scenario,
        "--listing",
        m_listing,
        "--log",
        m_dir.filePath("commands.log")};
    return StartPythonServer(m_process, arguments + m_options, m_port, error);
}

QStringList HostileServer::Commands() const {
    QFile log(m_dir.filePath("commands.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
