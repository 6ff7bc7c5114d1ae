#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

enum class ServerKind {
    Pyftpdlib,         // MLSD, no dot entries
    PyftpdlibListOnly, // no MLSD: listings come from LIST
    Proftpd,           // a C server; MLSD with "." and ".."
};

enum class TlsOffer {
    None,
    Explicit, // AUTH TLS offered, clear text allowed
    Required, // no login without AUTH TLS
    Implicit, // TLS from the first byte (pyftpdlib only)
};

// The options but kind, tls, certificate and port are pyftpdlib's only.
struct TestServerOptions {
    ServerKind kind = ServerKind::Pyftpdlib;
    bool refuseActive = false; // PORT and EPRT refused
    bool anonymous = false;    // anonymous logins allowed too
    bool refuseRename = false; // RNFR and RNTO refused
    bool dropFolder = false;   // store allowed, rename and delete refused
    int throttle = 0;          // bytes per second on data connections
    bool chineseDates = false; // LIST dates as under a Chinese locale
    TlsOffer tls = TlsOffer::None;
    QString certificate{}; // PEM with the certificate and its key
    quint16 port = 0;      // 0: any free port
    int cutUploadsAt = 0;  // uploads end here, acknowledged as complete
};

// A server process on 127.0.0.1 with a temporary folder, stopped when the object goes.
class ServerProcess {
public:
    ~ServerProcess();
    QString Address() const { return "127.0.0.1:" + QString::number(m_port); }
    // Every command the server received, in order.
    QStringList Commands() const { return LogLines("commands.log"); }

protected:
    // Starts a Python server script that prints "PORT n" once it listens.
    bool StartPython(const QStringList& arguments, QString& error);
    // Says in `error` why the server did not start; false.
    bool Failed(const QString& program, QString& error);
    void Stop();
    QByteArray ReadLog(const QString& name) const;
    QStringList LogLines(const QString& name) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// A real FTP server serving a fresh login directory.
class TestServer : public ServerProcess {
public:
    explicit TestServer(TestServerOptions options = {});

    // The kind named by TOLMI_TEST_SERVER.
    static ServerKind KindFromEnvironment();
    static QString KindName(ServerKind kind);

    bool Start(QString& error);

    ServerKind Kind() const { return m_options.kind; }
    QString User() const { return "tolmi"; }
    QString Password() const { return "secret"; }
    QString Root() const { return m_dir.filePath("home"); }
    // Data connections that were encrypted, as the server logged them.
    int TlsDataConnections() const;

    // Parents are made as needed.
    void WriteFile(const QString& relativePath, const QByteArray& content) const;
    void MakeDirectory(const QString& relativePath) const;

private:
    bool StartPyftpdlib(QString& error);
    bool StartProftpd(QString& error);

    TestServerOptions m_options;
};

// A port on 127.0.0.1 that nothing listens on right now.
quint16 FreeLoopbackPort();

// A program's standard output, empty when it failed.
QByteArray Run(const QString& program, const QStringList& arguments);

// A file's bytes, "(none)" when it cannot be read. A path in bytes may hold any name, GBK too.
QByteArray ReadBytes(const QByteArray& path);
QByteArray ReadBytes(const QString& path);
// The folder is made as needed.
void WriteBytes(const QString& path, const QByteArray& content);
