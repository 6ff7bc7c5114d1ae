#include "support/TestServer.h"

#include <QTest>
#include <arpa/inet.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
// All in the server's folder: nothing goes to /etc, /run or /var. Without DelayEngine off, logins
// are slowed on purpose.
constexpr char kProftpdConfig[] = R"(Port %1
User %2
Group %3
PidFile %4/pid
ScoreboardFile %4/scoreboard
ControlsSocket %4/ctrls.sock
SystemLog %4/system.log
AuthUserFile %4/passwd
ExtendedLog %4/commands.log ALL commands
LogFormat commands "%r"
DefaultAddress 127.0.0.1
SocketBindTight on
RootLogin on
TransferLog none
WtmpLog off
UseReverseDNS off
DelayEngine off
AuthOrder mod_auth_file.c
AllowOverwrite on
)";
constexpr char kProftpdTls[] = R"(ModulePath %1
LoadModule mod_tls.c
TLSEngine on
TLSRSACertificateFile %2
TLSRSACertificateKeyFile %2
TLSRequired %3
TLSLog %4/commands.log
)";

} // namespace

QByteArray ReadBytes(const QByteArray& path) {
    std::ifstream file(path.constData(), std::ios::binary);
    return file ? QByteArray::fromStdString({std::istreambuf_iterator<char>(file), {}}) : "(none)";
}

void WriteBytes(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

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

QString ServerProcess::StartPython(const QStringList& arguments) {
    m_process.start("/usr/bin/python3", arguments);
    bool waiting = true;
    while (waiting && !m_process.canReadLine())
        waiting = m_process.waitForReadyRead(kStartTimeoutMs);
    const QByteArray line = m_process.readLine().trimmed();
    m_port = line.mid(5).toUShort();
    return line.startsWith("PORT ") ? QString() : StartError(arguments[0]);
}

QString ServerProcess::StartError(const QString& program) {
    return program + " did not start: " + m_process.readAllStandardError();
}

QStringList ServerProcess::LogLines(const QString& name) const {
    return QString::fromUtf8(ReadLog(name)).split('\n', Qt::SkipEmptyParts);
}

ServerKind TestServer::KindFromEnvironment() {
    return ServerKind(std::max(0, int(kKindNames.indexOf(qgetenv("TOLMI_TEST_SERVER")))));
}

QString TestServer::Start() {
    return m_options.kind == ServerKind::Proftpd ? StartProftpd() : StartPyftpdlib();
}

QString TestServer::StartPyftpdlib() {
    const TestServerOptions& o = m_options;
    QStringList arguments{o.script, Root(), m_dir.filePath("commands.log")};
    if (o.kind == ServerKind::PyftpdlibListOnly)
        arguments << "list-only";
    if (o.tls != TlsOffer::None)
        arguments << "tls-cert=" + o.certificate;
    if (o.tls == TlsOffer::Implicit)
        arguments << "implicit-tls";
    return StartPython(arguments + o.words);
}

QString TestServer::StartProftpd() {
    m_port = FreeLoopbackPort();
    const QByteArray gid = QByteArray::number(::getgid()), group = ::getgrgid(::getgid())->gr_name;
    // proftpd's account file holds only the hash of the password.
    const QByteArray hash = Run("openssl", {"passwd", "-6", Password()}).trimmed();
    WriteBytes(m_dir.filePath("passwd"), "tolmi:" + hash + ":" + QByteArray::number(::getuid()) +
                                             ":" + gid + "::" + QFile::encodeName(Root()) +
                                             ":/bin/sh\n");
    // proftpd refuses account files that others may read.
    QFile::setPermissions(m_dir.filePath("passwd"), QFile::ReadOwner | QFile::WriteOwner);
    QString config = QString(kProftpdConfig)
                         .arg(m_port)
                         .arg(::getpwuid(::getuid())->pw_name, group, m_dir.path());
    if (m_options.tls != TlsOffer::None)
        config +=
            QString(kProftpdTls)
                .arg(QFileInfo(TOLMI_PROFTPD).path() + "/../lib/proftpd", m_options.certificate,
                     m_options.tls == TlsOffer::Required ? "on" : "off", m_dir.path());
    WriteBytes(m_dir.filePath("proftpd.conf"), config.toUtf8());
    m_process.start(TOLMI_PROFTPD, {"-n", "-q", "-c", m_dir.filePath("proftpd.conf")});
    // It logs its start once listening.
    const auto started = [this] { return !LogLines("system.log").filter("STARTUP").isEmpty(); };
    return QTest::qWaitFor(started, kStartTimeoutMs) ? QString() : StartError("proftpd");
}
