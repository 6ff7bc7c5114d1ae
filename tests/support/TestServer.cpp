#include "support/TestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

sockaddr_in Loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool CanConnect(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool WriteText(const QString& path, const QByteArray& text, QFile::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

QByteArray PasswordHash(const QString& password) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {"passwd", "-6", password});
    openssl.waitForFinished(kStartTimeoutMs);
    return openssl.readAllStandardOutput().trimmed();
}

// A configuration template from tests/servers/ with every @NAME@ filled in.
QByteArray Filled(const QString& name,
                  const std::vector<std::pair<QByteArray, QByteArray>>& values) {
    QFile file(QStringLiteral(TOLMI_SOURCE_DIR "/tests/servers/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QByteArray text = file.readAll();
    for (const auto& [key, value] : values)
        text.replace("@" + key + "@", value);
    return text;
}

} // namespace

quint16 FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool StartPythonServer(QProcess& process, const QStringList& arguments, quint16& port,
                       QString& error) {
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine() && timer.elapsed() < kStartTimeoutMs) {
        if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
            break;
    }
    const QByteArray line = process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        error = arguments.first() +
                " did not start: " + QString::fromUtf8(process.readAllStandardError());
        return false;
    }
    port = static_cast<quint16>(line.mid(5).toUInt());
    return true;
}

void StopProcess(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
}

TestServer::TestServer(TestServerOptions options) : m_options(options) {
    QDir(m_dir.path()).mkpath(QStringLiteral("home"));
}

TestServer::~TestServer() {
    StopProcess(m_process);
}

ServerKind TestServer::KindFromEnvironment() {
    const QByteArray name = qgetenv("TOLMI_TEST_SERVER");
    if (name == "proftpd")
        return ServerKind::Proftpd;
    if (name == "pyftpdlib-list")
        return ServerKind::PyftpdlibListOnly;
    return ServerKind::Pyftpdlib;
}

QString TestServer::KindName(ServerKind kind) {
    switch (kind) {
    case ServerKind::Pyftpdlib:
        return QStringLiteral("pyftpdlib");
    case ServerKind::PyftpdlibListOnly:
        return QStringLiteral("pyftpdlib-list");
    case ServerKind::Proftpd:
        return QStringLiteral("proftpd");
    }
    return {};
}

QString TestServer::Root() const {
    return m_dir.filePath(QStringLiteral("home"));
}

QString TestServer::Address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

bool TestServer::Start(QString& error) {
    const bool started =
        m_options.kind == ServerKind::Proftpd ? StartProftpd(error) : StartPyftpdlib(error);
    return started && WaitUntilListening(error);
}

bool TestServer::StartPyftpdlib(QString& error) {
    QStringList arguments{QStringLiteral(TOLMI_SOURCE_DIR "/tests/servers/ftpserver.py")};
    arguments << "--root" << Root() << "--user" << User() << "--password" << Password() << "--log"
              << m_dir.filePath("commands.log");
    const TestServerOptions& o = m_options;
    for (const auto& [on, flag] :
         {std::pair{o.kind == ServerKind::PyftpdlibListOnly, "--list-only"},
          {o.refuseActive, "--refuse-active"},
          {o.anonymous, "--anonymous"},
          {o.refuseRename, "--refuse-rename"},
          {o.dropFolder, "--drop-folder"},
          {o.chineseDates, "--chinese-dates"},
          {o.tls == TlsOffer::Required, "--tls-required"},
          {o.tls == TlsOffer::Implicit, "--implicit-tls"}}) {
        if (on)
            arguments << flag;
    }
    for (const auto& [value, option] : {std::pair{o.throttle, "--throttle"},
                                        {int(o.port), "--port"},
                                        {o.cutUploadsAt, "--cut-uploads"}}) {
        if (value > 0)
            arguments << option << QString::number(value);
    }
    if (o.tls != TlsOffer::None)
        arguments << "--tls-cert" << o.certificate;
    return StartPythonServer(m_process, arguments, m_port, error);
}

bool TestServer::StartProftpd(QString& error) {
    const QString proftpd = QStringLiteral(TOLMI_PROFTPD);
    if (!QFileInfo(proftpd).isExecutable()) {
        error = proftpd + " is missing: run make deps";
        return false;
    }
    const bool root = ::getuid() == 0;
    const QByteArray userName = root ? "root" : ::getpwuid(::getuid())->pw_name;
    const QByteArray groupName = root ? "root" : ::getgrgid(::getgid())->gr_name;
    const QByteArray dir = QFile::encodeName(m_dir.path());
    m_port = m_options.port != 0 ? m_options.port : FreeLoopbackPort();

    const QByteArray passwd =
        User().toUtf8() + ":" + PasswordHash(Password()) + ":" + QByteArray::number(::getuid()) +
        ":" + QByteArray::number(::getgid()) + "::" + QFile::encodeName(Root()) + ":/bin/false\n";
    const QByteArray group = groupName + ":x:" + QByteArray::number(::getgid()) + ":\n";
    const QString modules =
        QFileInfo(QStringLiteral(TOLMI_PROFTPD)).dir().filePath("../lib/proftpd");
    const QByteArray tls =
        m_options.tls == TlsOffer::None
            ? QByteArray()
            : Filled("proftpd-tls.conf",
                     {{"MODULES", QFile::encodeName(QDir::cleanPath(modules))},
                      {"CERTIFICATE", QFile::encodeName(m_options.certificate)},
                      {"REQUIRED", m_options.tls == TlsOffer::Required ? "on" : "off"},
                      {"DIR", dir}});
    const QByteArray config = Filled("proftpd.conf", {{"PORT", QByteArray::number(m_port)},
                                                      {"USER", userName},
                                                      {"GROUP", groupName},
                                                      {"ROOT_LOGIN", root ? "RootLogin on" : ""},
                                                      {"DIR", dir},
                                                      {"TLS", tls}});
    if (!WriteText(m_dir.filePath("passwd"), passwd, QFile::ReadOwner | QFile::WriteOwner) ||
        !WriteText(m_dir.filePath("group"), group, QFile::ReadOwner | QFile::WriteOwner) ||
        !WriteText(m_dir.filePath("proftpd.conf"), config, QFile::ReadOwner | QFile::WriteOwner)) {
        error = "cannot write the proftpd configuration";
        return false;
    }
    m_process.start(proftpd, {"-n", "-q", "-c", m_dir.filePath("proftpd.conf")});
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        error = "proftpd did not start";
        return false;
    }
    return true;
}

bool TestServer::WaitUntilListening(QString& error) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartTimeoutMs) {
        if (CanConnect(m_port))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    error = KindName(m_options.kind) +
            " is not listening: " + QString::fromUtf8(m_process.readAllStandardError());
    return false;
}

QStringList TestServer::LogLines(const QString& name) const {
    QFile log(m_dir.filePath(name));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList TestServer::Commands() const {
    return LogLines("commands.log");
}

int TestServer::ResumedTlsDataConnections() const {
    if (m_options.kind == ServerKind::Proftpd)
        return LogLines("tls.log").filter("client reused TLS session for data connection").size();
    return Commands().filter("DATA TLS resumed").size();
}

int TestServer::NewTlsDataConnections() const {
    if (m_options.kind == ServerKind::Proftpd)
        return LogLines("tls.log").filter("client did not reuse TLS session").size();
    return Commands().filter("DATA TLS new session").size();
}

void TestServer::WriteFile(const QString& relativePath, const QByteArray& content) const {
    const QString path = QDir(Root()).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

void TestServer::MakeDirectory(const QString& relativePath) const {
    QDir(Root()).mkpath(relativePath);
}
