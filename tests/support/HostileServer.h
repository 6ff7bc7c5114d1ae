#pragma once

#include "support/TestServer.h"

// The scripted misbehaving server (tests/servers/hostile_server.py) playing one scenario.
class HostileServer : public ServerProcess {
public:
    // `options`: the script's own, as --tls.
    explicit HostileServer(const QString& scenario, const QStringList& options = {})
        : m_arguments(QStringList{TOLMI_SOURCE_DIR "/tests/servers/hostile_server.py", scenario,
                                  m_dir.filePath("commands.log")} +
                      options) {}

    bool Start(QString& error) { return StartPython(m_arguments, error); }

private:
    QStringList m_arguments;
};
