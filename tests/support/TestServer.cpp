#include "support/TestServer.h"

#include <QDir>
#include <QTest>
#include <arpa/inet.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
const QStringList kKindNames = {"pyftpdlib", "pyftpdlib-list", "proftpd"};
// `openssl passwd -6 secret`: proftpd's account file holds only the hash of the password.
constexpr char kPasswordHash[] = "$6$tolmi$vUI0c9A6SoVqo95AcJpL/x7OqInvX9RDGILRRjsu7NKA/"
                                 "QkYC0eB5YBYywSHyDsczBrjBrWoXciTziydkogB3.";

void Write(const QString& path, const QByteArray& content) {
    QFile file(path);
    // Private: proftpd refuses an account file that others may read.
    if (!file.open(QIODevice::WriteOnly, QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

quint16 FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

QByteArray Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(30000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    // A space keeps a success with no output from looking like a failure.
    return ok ? process.readAllStandardOutput() + ' ' : QByteArray();
}

ServerProcess::~ServerProcess() {
    Stop();
}

void ServerProcess::Stop() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

bool ServerProcess::StartPython(const QStringList& arguments, QString& error) {
    m_process.start("/usr/bin/python3", arguments);
    bool waiting = true;
    while (waiting && !m_process.canReadLine())
        waiting = m_process.waitForReadyRead(kStartTimeoutMs);
    const QByteArray line = m_process.readLine().trimmed();
    m_port = line.mid(5).toUShort();
    return line.startsWith("PORT ") || Failed(arguments[0], error);
}

bool ServerProcess::Failed(const QString& program, QString& error) {
    error = program + " did not start: " + m_process.readAllStandardError();
    return false;
}

QByteArray ServerProcess::ReadLog(const QString& name) const {
    QFile log(m_dir.filePath(name));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

QStringList ServerProcess::LogLines(const QString& name) const {
    return QString::fromUtf8(ReadLog(name)).split('\n', Qt::SkipEmptyParts);
}

TestServer::TestServer(TestServerOptions options) : m_options(options) {
    QDir(m_dir.path()).mkpath("home");
}

ServerKind TestServer::KindFromEnvironment() {
    return ServerKind(std::max(0, int(kKindNames.indexOf(qgetenv("TOLMI_TEST_SERVER")))));
}

QString TestServer::KindName(ServerKind kind) {
    return kKindNames[int(kind)];
}

bool TestServer::Start(QString& error) {
    return m_options.kind == ServerKind::Proftpd ? StartProftpd(error) : StartPyftpdlib(error);
}

bool TestServer::StartPyftpdlib(QString& error) {
    const TestServerOptions& o = m_options;
    const std::pair<bool, QString> options[] = {
        {o.kind == ServerKind::PyftpdlibListOnly, "list-only"},
        {o.refuseActive, "refuse-active"},
        {o.anonymous, "anonymous"},
        {o.refuseRename, "refuse-rename"},
        {o.dropFolder, "drop-folder"},
        {o.chineseDates, "chinese-dates"},
        {o.tls == TlsOffer::Required, "tls-required"},
        {o.tls == TlsOffer::Implicit, "implicit-tls"},
        {o.tls != TlsOffer::None, "tls-cert=" + o.certificate},
        {o.throttle > 0, "throttle=" + QString::number(o.throttle)},
        {o.port > 0, "port=" + QString::number(o.port)},
        {o.cutUploadsAt > 0, "cut-uploads=" + QString::number(o.cutUploadsAt)}};
    QStringList arguments{TOLMI_SOURCE_DIR "/tests/servers/ftpserver.py", Root(),
                          m_dir.filePath("commands.log")};
    for (const auto& [on, option] : options) {
        if (on)
            arguments << option;
    }
    return StartPython(arguments, error);
}

// tests/servers/proftpd.conf reads its paths and names from the environment.
bool TestServer::StartProftpd(QString& error) {
    m_port = m_options.port ? m_options.port : FreeLoopbackPort();
    const QByteArray gid = QByteArray::number(::getgid()), group = ::getgrgid(::getgid())->gr_name;
    Write(m_dir.filePath("passwd"), "tolmi:" + QByteArray(kPasswordHash) + ":" +
                                        QByteArray::number(::getuid()) + ":" + gid +
                                        "::" + QFile::encodeName(Root()) + ":/bin/sh\n");
    Write(m_dir.filePath("group"), group + ":x:" + gid + ":\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] :
         {std::pair{"DIR", m_dir.path()},
          {"PORT", QString::number(m_port)},
          {"USER", ::getpwuid(::getuid())->pw_name},
          {"GROUP", group},
          {"CERTIFICATE", m_options.certificate},
          {"TLS_REQUIRED", m_options.tls == TlsOffer::Required ? "on" : "off"},
          {"MODULES", QFileInfo(TOLMI_PROFTPD).path() + "/../lib/proftpd"}})
        environment.insert(QString("TOLMI_") + name, value);
    m_process.setProcessEnvironment(environment);
    QStringList arguments = {"-n", "-q", "-c", TOLMI_SOURCE_DIR "/tests/servers/proftpd.conf"};
    if (m_options.tls != TlsOffer::None)
        arguments += {"-D", "TLS"};
    m_process.start(TOLMI_PROFTPD, arguments);
    // It logs its start once it listens.
    const auto started = [this] { return !LogLines("system.log").filter("STARTUP").isEmpty(); };
    return QTest::qWaitFor(started, kStartTimeoutMs) || Failed("proftpd", error);
}

int TestServer::TlsDataConnections() const {
    const bool proftpd = m_options.kind == ServerKind::Proftpd;
    return LogLines(proftpd ? "tls.log" : "commands.log")
        .filter("TLS session for data connection")
        .size();
}

void TestServer::WriteFile(const QString& relativePath, const QByteArray& content) const {
    const QString path = QDir(Root()).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    Write(path, content);
}

void TestServer::MakeDirectory(const QString& relativePath) const {
    QDir(Root()).mkpath(relativePath);
}
