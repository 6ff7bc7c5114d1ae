// The FTP layer over SFTP against OpenSSH's sshd: the host key decided before any authentication,
// logins, files byte for byte, the upload's replace rules, cancel and a server gone silent.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "support/SshServer.h"

#include <QtTest>
#include <csignal>
#include <future>

namespace {

using Step = std::function<FtpResult(CFtpConnection&)>;

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "-";
}

void Write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

QByteArray Random(qint64 mib) {
    QByteArray bytes(mib << 20, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), mib << 18);
    return bytes;
}

QByteArray Fingerprint(const QString& publicKey) {
    return Run("ssh-keygen", {"-lf", publicKey, "-E", "sha256"}).split(' ').value(1);
}

} // namespace

class SftpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { Write(m_home.filePath(".ssh/known_hosts"), KeyLine(m_server->HostKey())); }
    void cleanupTestCase() { m_server.reset(); }
    void hostKeyIsDecidedBeforeLogin_data();
    void hostKeyIsDecidedBeforeLogin();
    void logins_data();
    void logins();
    void listsAndEntersDirectories();
    void uploadsReplaceOnlyWhenComplete_data();
    void uploadsReplaceOnlyWhenComplete();
    void failedDownloadLeavesNoFile_data();
    void failedDownloadLeavesNoFile();

private:
    std::unique_ptr<CFtpConnection> LogIn(TlsTrust* trust = nullptr) const {
        // The connection keeps the trust: it outlives the session.
        return CInternetSession({1000, 1000, 2000, 1000}, m_monitor.get(),
                                trust ? trust : m_trust.get())
            .GetFtpConnection(m_server->Address(), m_server->User(), "secret");
    }
    QString Served(const QString& name) const { return m_server->Home() + "/" + name; }
    void Serve(const QString& name, const QByteArray& content) const {
        Write(Served(name), content);
        Run("chown", {"-R", m_server->User(), m_server->Home()});
    }
    QByteArray KeyLine(const QString& publicKey) const {
        return "[127.0.0.1]:" + m_server->Address().section(':', 2).toUtf8() + ' ' +
               Read(publicKey).split(' ').mid(0, 2).join(' ') + '\n';
    }
    // Runs `step` on a worker and calls `interrupt` once bytes move.
    FtpResult Interrupted(const Step& step, const std::function<void()>& interrupt) {
        m_monitor->Reset();
        const auto connection = LogIn();
        auto result = std::async(std::launch::async, [&] { return step(*connection); });
        while (!m_monitor->BytesDone() &&
               result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            ;
        interrupt();
        return result.get();
    }

    QTemporaryDir m_home; // the user's, with the key files
    std::unique_ptr<SshServer> m_server = std::make_unique<SshServer>();
    std::unique_ptr<TransferMonitor> m_monitor = std::make_unique<TransferMonitor>();
    std::unique_ptr<TlsTrust> m_trust = std::make_unique<TlsTrust>();
};

void SftpTest::initTestCase() {
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("SSH_AUTH_SOCK");
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
    const QString key = m_home.filePath(".ssh/id_ed25519");
    QDir(m_home.path()).mkdir(".ssh");
    QVERIFY(!Run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key}).isEmpty());
    Serve(".ssh/authorized_keys", Read(key + ".pub"));
}

void SftpTest::hostKeyIsDecidedBeforeLogin_data() {
    QTest::addColumn<QString>("known");   // the key known_hosts has
    QTest::addColumn<QString>("trusted"); // the key trusted earlier in the run
    QTest::addColumn<FtpReason>("reason");
    const QString server = m_server->HostKey(), other = m_home.filePath(".ssh/id_ed25519.pub");
    QTest::newRow("in known_hosts") << server << "" << FtpReason::Done;
    QTest::newRow("unknown, asked again") << ""
                                          << "" << FtpReason::HostKeyUnknown;
    QTest::newRow("another in known_hosts") << other << "" << FtpReason::HostKeyChanged;
    QTest::newRow("trusted in the run") << "" << server << FtpReason::Done;
    QTest::newRow("another trusted") << "" << other << FtpReason::HostKeyChanged;
}

void SftpTest::hostKeyIsDecidedBeforeLogin() {
    QFETCH(QString, known);
    QFETCH(QString, trusted);
    QFETCH(FtpReason, reason);
    const QString knownHosts = m_home.filePath(".ssh/known_hosts");
    Write(knownHosts, known.isEmpty() ? "" : KeyLine(known));
    Run("ssh-keygen", {"-H", "-f", knownHosts}); // hashed, as Debian's ssh writes it
    const QByteArray hosts = Read(knownHosts);
    TlsTrust trust;
    if (!trusted.isEmpty())
        trust.PinHostKey("127.0.0.1:" + m_server->Address().section(':', 2).toUtf8(),
                         Fingerprint(trusted).mid(7));
    const qsizetype logStart = m_server->Log().size();
    // Cancelling the question trusts nothing: the next login stops the same way.
    for (int login = 0; login < 2; ++login) {
        try {
            LogIn(&trust);
            QCOMPARE(FtpReason::Done, reason);
        } catch (const CInternetException& failure) {
            QCOMPARE(failure.m_result.Reason(), reason);
            const auto key = failure.m_hostKey.value_or(ServerHostKey{});
            QCOMPARE(key.type + ' ' + key.Fingerprint(),
                     reason == FtpReason::HostKeyUnknown
                         ? "ssh-ed25519 " + Fingerprint(m_server->HostKey())
                         : " SHA256:");
        }
    }
    const QString log = m_server->Log().mid(logStart);
    QCOMPARE(log.contains("Accepted password"), reason == FtpReason::Done);
    QVERIFY(reason == FtpReason::Done ||
            !log.contains(QRegularExpression("Accepted|Failed|Postp")));
    QCOMPARE(Read(knownHosts), hosts);
}

void SftpTest::logins_data() {
    QTest::addColumn<bool>("named"); // else the local user's name
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("logged");
    QTest::newRow("password") << true << "secret"
                              << "Accepted password for %1 ";
    QTest::newRow("wrong password") << true << "nope"
                                    << "Failed password for %1 ";
    QTest::newRow("key file, no password") << true << ""
                                           << "Accepted publickey for %1 ";
    QTest::newRow("no login name: the local user") << false << "secret"
                                                   << "password for %1 ";
}

void SftpTest::logins() {
    QFETCH(bool, named);
    QFETCH(QString, password);
    QFETCH(QString, logged);
    const QString name = named ? m_server->User() : Run("id", {"-un"}).trimmed();
    const qsizetype logStart = m_server->Log().size();
    try {
        (void)CInternetSession().GetFtpConnection(m_server->Address(), named ? name : "", password);
        QVERIFY(logged.startsWith("Accepted"));
    } catch (const CInternetException& failure) {
        QCOMPARE(failure.m_result.Reason(), FtpReason::Refused);
    }
    const QByteArray log = m_server->Log().mid(logStart);
    QVERIFY2(log.contains(logged.arg(name).toUtf8()), log.constData());
}

void SftpTest::listsAndEntersDirectories() {
    Serve("list/中 文.txt", "x");
    Serve("list/sub dir/a", "a");
    QFile::link("中 文.txt", Served("list/link"));
    const auto connection = LogIn();
    QVERIFY(!connection->SetCurrentDirectory(RemotePath().Child("missing")));
    QVERIFY(!connection->SetCurrentDirectory(RemotePath().Child("list").Child("中 文.txt")));
    QVERIFY(connection->SetCurrentDirectory(RemotePath().Child("list")));
    std::vector<RemoteEntry> entries;
    QVERIFY(connection->ReadDirectory(entries));
    QStringList seen;
    for (const RemoteEntry& entry : entries)
        seen << QString::fromUtf8(entry.name) + (entry.kindKnown ? "" : "?") +
                    (entry.isDirectory ? "/" : "");
    seen.sort();
    QCOMPARE(seen, QStringList({"../", "./", "link?", "sub dir/", "中 文.txt"}));
}

void SftpTest::uploadsReplaceOnlyWhenComplete_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("mib");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("1 MiB, new name") << "a b.bin" << qint64(1) << false << false;
    QTest::newRow("100 MiB, replacing") << "文件 名.bin" << qint64(100) << true << false;
    QTest::newRow("new name, cancelled") << "c.bin" << qint64(100) << false << true;
    QTest::newRow("replacing, cancelled") << "d.bin" << qint64(100) << true << true;
}

void SftpTest::uploadsReplaceOnlyWhenComplete() {
    QFETCH(QString, name);
    QFETCH(qint64, mib);
    QFETCH(bool, existing);
    QFETCH(bool, cancel);
    const QString target = Served("目录 一/" + name), up = m_home.filePath("up");
    Serve("目录 一/.keep", existing ? "old" : "");
    if (existing) // the old file under a second name too: it is never written to
        Run("ln", {"-f", Served("目录 一/.keep"), target});
    const QByteArray content = Random(mib);
    Write(up, content);
    const Step put = [&](CFtpConnection& c) {
        return c.SetCurrentDirectory(RemotePath().Child("目录 一")) ? c.PutFile(up, name.toUtf8())
                                                                    : FtpResult();
    };
    const FtpResult result = Interrupted(put, [&] { cancel ? m_monitor->Cancel() : void(); });
    QCOMPARE(result.Reason(), cancel ? FtpReason::Cancelled : FtpReason::Done);
    QCOMPARE(QDir(Served("目录 一")).entryList({name, ".tolmi*"}, QDir::Files | QDir::Hidden),
             cancel && !existing ? QStringList() : QStringList{name});
    QCOMPARE(Read(Served("目录 一/.keep")), existing ? "old" : "");
    QVERIFY(Read(target) == (!cancel ? content : QByteArray(existing ? "old" : "-")));
    if (cancel)
        return;
    const auto connection = LogIn();
    QVERIFY(connection->SetCurrentDirectory(RemotePath().Child("目录 一")));
    QVERIFY(connection->GetFile(name.toUtf8(), m_home.filePath(name)));
    QVERIFY(Read(m_home.filePath(name)) == content);
}

void SftpTest::failedDownloadLeavesNoFile_data() {
    QTest::addColumn<bool>("cancel"); // else the server stops answering
    QTest::newRow("cancelled") << true;
    QTest::newRow("server silent past the stall limit") << false;
}

void SftpTest::failedDownloadLeavesNoFile() {
    QFETCH(bool, cancel);
    Serve("big.bin", Random(100));
    qint64 session = 0;
    const FtpResult result = Interrupted(
        [&](CFtpConnection& c) { return c.GetFile("big.bin", m_home.filePath("failed")); },
        [&] {
            if (cancel)
                m_monitor->Cancel();
            else if ((session = m_server->SessionPid()) > 0)
                ::kill(static_cast<pid_t>(session), SIGSTOP);
        });
    if (session > 0)
        ::kill(static_cast<pid_t>(session), SIGCONT);
    QCOMPARE(result.Reason(), cancel ? FtpReason::Cancelled : FtpReason::TimedOut);
    QVERIFY(!QFile::exists(m_home.filePath("failed")));
}

QTEST_GUILESS_MAIN(SftpTest)
#include "tst_sftp.moc"
