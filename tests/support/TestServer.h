#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

// A port on 127.0.0.1 that nothing listens on right now.
quint16 FreeLoopbackPort();

// A program's standard output, empty when it failed.
QByteArray Run(const QString& program, const QStringList& arguments);

// A file's bytes, "(none)" when it cannot be read. A path in bytes may hold a GBK name.
QByteArray ReadBytes(const QByteArray& path);
inline QByteArray ReadBytes(const QString& path) {
    return ReadBytes(QFile::encodeName(path));
}
// The folder is made as needed.
void WriteBytes(const QString& path, const QByteArray& content);

enum class ServerKind {
    Pyftpdlib,
    PyftpdlibListOnly, // no MLSD
    Proftpd,           // MLSD with "." and ".."
};

enum class TlsOffer {
    None,
    Explicit, // clear text allowed
    Required, // proftpd only
    Implicit, // pyftpdlib only
};

// The options but kind, tls and certificate are pyftpdlib's only.
struct TestServerOptions {
    ServerKind kind = ServerKind::Pyftpdlib;
    TlsOffer tls = TlsOffer::None;
    QString certificate{}; // PEM with the certificate and its key
    QStringList words{};   // ftpserver.py's own: "refuse-active", "throttle=204800"...
    // Or a script that runs it with changes.
    QString script = TOLMI_SOURCE_DIR "/tests/servers/ftpserver.py";
};

// A server process on 127.0.0.1 with a temporary folder, stopped when the object goes.
class ServerProcess {
public:
    virtual ~ServerProcess();
    // Why the server did not start; empty once it listens.
    virtual QString Start() = 0;
    QString Address() const { return "127.0.0.1:" + QString::number(m_port); }
    // Every command the server received, in order.
    QStringList Commands() const { return LogLines("commands.log"); }

protected:
    // Starts a Python server script that prints "PORT n" once it listens.
    QString StartPython(const QStringList& arguments);
    QString StartError(const QString& program);
    void Stop();
    QByteArray ReadLog(const QString& name) const { return ReadBytes(m_dir.filePath(name)); }
    QStringList LogLines(const QString& name) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// A real FTP server serving a fresh login directory.
class TestServer : public ServerProcess {
public:
    explicit TestServer(TestServerOptions options = {}) : m_options(options) {
        QDir(m_dir.path()).mkpath("home");
    }

    static inline const QStringList kKindNames = {"pyftpdlib", "pyftpdlib-list", "proftpd"};
    // The kind named by TOLMI_TEST_SERVER.
    static ServerKind KindFromEnvironment();

    QString Start() override;

    ServerKind Kind() const { return m_options.kind; }
    QString User() const { return "tolmi"; }
    QString Password() const { return "secret"; }
    QString Root() const { return m_dir.filePath("home"); }

    void WriteFile(const QString& path, const QByteArray& content) const {
        WriteBytes(QDir(Root()).filePath(path), content);
    }
    void MakeDirectory(const QString& path) const { QDir(Root()).mkpath(path); }

private:
    QString StartPyftpdlib();
    QString StartProftpd();

    TestServerOptions m_options;
};

// The scripted misbehaving server (tests/servers/hostile_server.py) playing one scenario.
class HostileServer : public ServerProcess {
public:
    // `options`: the script's own, as --tls.
    explicit HostileServer(const QString& scenario, const QStringList& options = {})
        : m_arguments(QStringList{TOLMI_SOURCE_DIR "/tests/servers/hostile_server.py", scenario,
                                  m_dir.filePath("commands.log")} +
                      options) {}

    QString Start() override { return StartPython(m_arguments); }

private:
    QStringList m_arguments;
};
