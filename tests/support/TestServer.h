#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

enum class ServerKind {
    Pyftpdlib,         // MLSD, no dot entries
    PyftpdlibListOnly, // no MLSD: listings come from LIST
    Proftpd,           // a C server; MLSD with "." and ".."
};

enum class TlsOffer {
    None,     // clear text only
    Explicit, // AUTH TLS offered, clear text allowed
    Required, // no login without AUTH TLS
    Implicit, // TLS from the first byte (pyftpdlib only)
};

struct TestServerOptions {
    ServerKind kind = ServerKind::Pyftpdlib;
    bool refuseActive = false; // PORT and EPRT refused (pyftpdlib only)
    bool anonymous = false;    // anonymous logins allowed too (pyftpdlib only)
    bool refuseRename = false; // RNFR and RNTO refused (pyftpdlib only)
    bool dropFolder = false;   // store allowed, rename and delete refused (pyftpdlib only)
    int throttle = 0;          // bytes per second on data connections (pyftpdlib only)
    bool chineseDates = false; // LIST dates as under a Chinese locale (pyftpdlib only)
    TlsOffer tls = TlsOffer::None;
    QString certificate{}; // PEM with the certificate and its key, for TLS
    quint16 port = 0;      // 0: any free port
    int cutUploadsAt = 0;  // uploads end here, acknowledged as complete (pyftpdlib only)
};

// A real FTP server on 127.0.0.1 at a free port, serving a fresh temporary login directory,
// stopped when the object goes.
class TestServer {
public:
    explicit TestServer(TestServerOptions options = {});
    ~TestServer();

    // The kind named by TOLMI_TEST_SERVER (pyftpdlib, pyftpdlib-list, proftpd).
    static ServerKind KindFromEnvironment();
    static QString KindName(ServerKind kind);

    // Starts the server; on failure `error` says why.
    bool Start(QString& error);

    ServerKind Kind() const { return m_options.kind; }
    const TestServerOptions& Options() const { return m_options; }
    QString Address() const; // "127.0.0.1:port", as a user types it
    QString User() const { return QStringLiteral("tolmi"); }
    QString Password() const { return QStringLiteral("secret"); }
    // The login directory on disk.
    QString Root() const;
    // Every command the server received, in order.
    QStringList Commands() const;
    // TLS data connections that resumed the control connection's session, and all of them,
    // as the server logged them.
    int ResumedTlsDataConnections() const;
    int NewTlsDataConnections() const;

    // Writes a file below the login directory (parents made as needed).
    void WriteFile(const QString& relativePath, const QByteArray& content) const;
    void MakeDirectory(const QString& relativePath) const;

private:
    bool StartPyftpdlib(QString& error);
    bool StartProftpd(QString& error);
    bool WaitUntilListening(QString& error);
    QStringList LogLines(const QString& name) const;

    TestServerOptions m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// A port on 127.0.0.1 that nothing listens on right now.
quint16 FreeLoopbackPort();

// Starts a Python server script that prints "PORT n" once it listens.
bool StartPythonServer(QProcess& process, const QStringList& arguments, quint16& port,
                       QString& error);
void StopProcess(QProcess& process);
