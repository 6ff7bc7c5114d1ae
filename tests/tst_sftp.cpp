// The FTP layer over SFTP against OpenSSH's sshd, as root: host keys, logins, files, interruptions.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "support/SshServer.h"

#include <QtTest>
#include <csignal>
#include <future>

using namespace std::chrono_literals;

namespace {

QByteArray Fingerprint(const QString& publicKey) {
    return Run("ssh-keygen", {"-lf", publicKey, "-E", "sha256"}).split(' ').value(1);
}

QByteArray Random(int mib) {
    QByteArray bytes(mib << 20, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), mib << 18);
    return bytes;
}

const RemotePath kDirectory = RemotePath().Child("目录 一");

} // namespace

class SftpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_server.reset(); }
    void logins_data();
    void logins();
    void listsAndEntersDirectories();
    void uploadsReplaceOnlyWhenComplete_data();
    void uploadsReplaceOnlyWhenComplete();
    void stalledDownloadLeavesNoFile();

private:
    // The server's files become the account's, and the monitor starts afresh.
    std::unique_ptr<CFtpConnection> LogIn() {
        Run("chown", {"-R", m_server->User(), m_server->Home()});
        m_monitor.Reset();
        return CInternetSession({1000, 1000, 2000, 1000}, &m_monitor, &m_trust)
            .GetFtpConnection(m_server->Address(), m_server->User(), "pw");
    }
    QString Served(const QString& name) const { return m_server->Home() + "/目录 一/" + name; }
    QByteArray Port() const { return m_server->Address().section(':', 2).toUtf8(); }
    // Runs `step` in the directory on a worker; `interrupt` comes once a MiB has moved.
    FtpResult Interrupted(const std::function<FtpResult(CFtpConnection&)>& step,
                          const std::function<void()>& interrupt) {
        const auto connection = LogIn();
        auto result = std::async(std::launch::async, [&] {
            return connection->SetCurrentDirectory(kDirectory) ? step(*connection) : FtpResult();
        });
        while (m_monitor.BytesDone() >> 20 == 0 &&
               result.wait_for(5ms) != std::future_status::ready)
            ;
        interrupt();
        return result.get();
    }

    QTemporaryDir m_home; // the user's, with the key files
    std::unique_ptr<SshServer> m_server = std::make_unique<SshServer>();
    TransferMonitor m_monitor;
    TlsTrust m_trust; // the server's key trusted
};

void SftpTest::initTestCase() {
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("SSH_AUTH_SOCK");
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
    const QString key = m_home.filePath(".ssh/id_ed25519");
    QDir(m_home.path()).mkdir(".ssh");
    QVERIFY(!Run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key}).isEmpty());
    WriteBytes(Served("../.ssh/authorized_keys"), ReadBytes(key + ".pub"));
    m_trust.PinHostKey("127.0.0.1:" + Port(), Fingerprint(m_server->HostKey()).mid(7));
}

void SftpTest::logins_data() {
    QTest::addColumn<QString>("known");   // the key known_hosts has
    QTest::addColumn<QString>("trusted"); // the key trusted earlier in the run
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<QString>("logged"); // empty: no authentication reached the server
    const QString host = m_server->HostKey(), other = m_home.filePath(".ssh/id_ed25519.pub");
    const QString u = m_server->User(), none, accepted = "Accepted password for " + u + ' ';
    const QString localUser = "password for " + QString(Run("id", {"-un"}).trimmed()) + ' ';
    using R = FtpReason;
    // clang-format off
    QTest::newRow("key in known_hosts") << host << none << u << "pw" << R::Done << accepted;
    QTest::newRow("unknown key, asked again") << none << none << u << "pw" << R::HostKeyUnknown << none;
    QTest::newRow("another trusted") << none << other << u << "pw" << R::HostKeyChanged << none;
    QTest::newRow("wrong password") << host << none << u << "no" << R::Refused << "Failed password for " + u;
    QTest::newRow("key file, no password") << host << none << u << "" << R::Done << "Accepted publickey for " + u;
    QTest::newRow("no name: the local user") << host << none << "" << "pw" << R::Refused << localUser;
    // clang-format on
}

void SftpTest::logins() {
    QFETCH(QString, known);
    QFETCH(QString, trusted);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(FtpReason, reason);
    QFETCH(QString, logged);
    const QString knownHosts = m_home.filePath(".ssh/known_hosts");
    WriteBytes(knownHosts, known.isEmpty() ? "" : "[127.0.0.1]:" + Port() + ' ' + ReadBytes(known));
    Run("ssh-keygen", {"-H", "-f", knownHosts}); // hashed, as Debian's ssh writes it
    const QByteArray hosts = ReadBytes(knownHosts);
    TlsTrust trust;
    if (!trusted.isEmpty())
        trust.PinHostKey("127.0.0.1:" + Port(), Fingerprint(trusted).mid(7));
    const qsizetype logStart = m_server->Log().size();
    // Cancelling the question trusts nothing: the next login stops the same way.
    for (int login = 0; login < 2; ++login) {
        try {
            (void)CInternetSession({}, nullptr, &trust)
                .GetFtpConnection(m_server->Address(), user, password);
            QCOMPARE(FtpReason::Done, reason);
        } catch (const CInternetException& failure) {
            QCOMPARE(failure.m_result.Reason(), reason);
        }
    }
    const QString log = m_server->Log().mid(logStart);
    QVERIFY(logged.isEmpty() ? !log.contains(QRegularExpression("Accepted|Failed|Postp"))
                             : log.contains(logged));
    QCOMPARE(ReadBytes(knownHosts), hosts);
}

void SftpTest::listsAndEntersDirectories() {
    WriteBytes(Served("中 文.txt"), "x");
    WriteBytes(Served("sub dir/a"), "a");
    QFile::link("中 文.txt", Served("link"));
    const auto connection = LogIn();
    QCOMPARE(m_monitor.TlsMinorVersion(), TransferMonitor::kSsh);
    QVERIFY(!connection->SetCurrentDirectory(RemotePath().Child("missing")));
    QVERIFY(!connection->SetCurrentDirectory(kDirectory.Child("中 文.txt")));
    QVERIFY(connection->SetCurrentDirectory(kDirectory));
    std::vector<RemoteEntry> entries;
    QVERIFY(connection->ReadDirectory(entries));
    QStringList seen;
    for (const RemoteEntry& entry : entries)
        seen << entry.name + (entry.kindKnown ? "" : "?") + (entry.isDirectory ? "/" : "");
    seen.sort();
    QCOMPARE(seen, QStringList({"../", "./", "link?", "sub dir/", "中 文.txt"}));
}

void SftpTest::uploadsReplaceOnlyWhenComplete_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mib");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("1 MiB, new name") << "a b.bin" << 1 << false << false;
    QTest::newRow("100 MiB, replacing") << "文件 名.bin" << 100 << true << false;
    QTest::newRow("new name, cancelled") << "c.bin" << 100 << false << true;
    QTest::newRow("replacing, cancelled") << "d.bin" << 100 << true << true;
}

void SftpTest::uploadsReplaceOnlyWhenComplete() {
    QFETCH(QString, name);
    QFETCH(int, mib);
    QFETCH(bool, existing);
    QFETCH(bool, cancel);
    WriteBytes(Served(".old"), existing ? "old" : "");
    if (existing) // under a second name too: the old file is never written to
        Run("ln", {"-f", Served(".old"), Served(name)});
    const QByteArray content = Random(mib);
    WriteBytes(m_home.filePath("up"), content);
    const FtpResult result = Interrupted(
        [&](CFtpConnection& c) { return c.PutFile(m_home.filePath("up"), name.toUtf8()); },
        [&] { cancel ? m_monitor.Cancel() : void(); });
    QCOMPARE(result.Reason(), cancel ? FtpReason::Cancelled : FtpReason::Done);
    QCOMPARE(QDir(Served("")).entryList({name, ".tolmi*"}, QDir::Files | QDir::Hidden),
             cancel && !existing ? QStringList() : QStringList{name});
    QCOMPARE(ReadBytes(Served(".old")), existing ? "old" : "");
    const QByteArray kept = existing ? "old" : "(none)";
    QVERIFY(ReadBytes(Served(name)) == (cancel ? kept : content));
    const QString down = m_home.filePath(name);
    QVERIFY(cancel ||
            Interrupted([&](CFtpConnection& c) { return c.GetFile(name.toUtf8(), down); }, [] {}));
    QVERIFY(cancel || ReadBytes(down) == content);
}

void SftpTest::stalledDownloadLeavesNoFile() {
    WriteBytes(Served("big.bin"), Random(100));
    qint64 session = 0;
    const FtpResult result = Interrupted(
        [&](CFtpConnection& c) { return c.GetFile("big.bin", m_home.filePath("stalled")); },
        [&] { // the server stops answering
            if ((session = m_server->SessionPid()) > 0)
                ::kill(static_cast<pid_t>(session), SIGSTOP);
        });
    ::kill(static_cast<pid_t>(session), SIGCONT);
    QCOMPARE(result.Reason(), FtpReason::TimedOut); // past the stall limit
    QVERIFY(!QFile::exists(m_home.filePath("stalled")));
}

QTEST_GUILESS_MAIN(SftpTest)
#include "tst_sftp.moc"
