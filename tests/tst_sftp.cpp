// The FTP layer over SFTP against OpenSSH's sshd, as root.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "support/SshServer.h"

#include <QtTest>
#include <csignal>
#include <future>

using namespace std::chrono_literals;

// libcurl 7.88 keeps a stalled SFTP connection's libssh2 session at tear-down (this suite only).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libssh2\nleak:libcurl.so.4\n";
}

const RemotePath kDirectory = RemotePath().Child("目录 一");

class SftpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void logins_data();
    void logins();
    void listsAndEntersDirectories();
    void uploadsReplaceOnlyWhenComplete_data();
    void uploadsReplaceOnlyWhenComplete();
    void stalledDownloadLeavesNoFile();

private:
    // Files written here become the account's.
    std::unique_ptr<CFtpConnection> LogIn() {
        Run("chown", {"-R", m_server.User(), m_server.Home()});
        m_monitor.Reset();
        return CInternetSession({1000, 1000, 2000, 1000}, &m_monitor, &m_trust)
            .GetFtpConnection(m_server.Address(), m_server.User(), "pw");
    }
    QString Served(const QString& name) const { return m_server.Home() + "/目录 一/" + name; }
    QByteArray Port() const { return m_server.Address().section(':', 2).toUtf8(); }
    // As the window does when the user trusts the key.
    void Pin(TlsTrust& trust, const QString& publicKey) const {
        const QByteArray fingerprint = Run("ssh-keygen", {"-lf", publicKey, "-E", "sha256"});
        trust.PinHostKey("127.0.0.1:" + Port(), fingerprint.split(' ').value(1).mid(7));
    }
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

    QTemporaryDir m_home;
    SshServer m_server;
    TransferMonitor m_monitor;
    TlsTrust m_trust; // the server's key
};

void SftpTest::initTestCase() {
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("SSH_AUTH_SOCK");
    QCOMPARE(m_server.Start(), QString());
    const QString key = m_home.filePath(".ssh/id_ed25519");
    QDir(m_home.path()).mkdir(".ssh");
    QVERIFY(!Run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key}).isEmpty());
    WriteBytes(Served("../.ssh/authorized_keys"), ReadBytes(key + ".pub"));
    Pin(m_trust, m_server.HostKey());
}

void SftpTest::logins_data() {
    QTest::addColumn<QString>("trusted"); // beforehand: "known_hosts", "another key" or nothing
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<QString>("logged"); // empty: no authentication reached the server
    const QString u = m_server.User();
    using R = FtpReason;
    // clang-format off
    QTest::newRow("key in known_hosts") << "known_hosts" << u << "pw" << R::Done << "Accepted password";
    QTest::newRow("unknown key, asked again") << "" << u << "pw" << R::HostKeyUnknown << "";
    QTest::newRow("another trusted") << "another key" << u << "pw" << R::HostKeyChanged << "";
    QTest::newRow("wrong password") << "known_hosts" << u << "no" << R::Refused << "Failed password";
    QTest::newRow("key file, no password") << "known_hosts" << u << "" << R::Done << "Accepted publickey";
    QTest::newRow("no name: the local user") << "known_hosts" << "" << "pw" << R::Refused << "password";
    // clang-format on
}

void SftpTest::logins() {
    QFETCH(QString, trusted);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(FtpReason, reason);
    QFETCH(QString, logged);
    const QString knownHosts = m_home.filePath(".ssh/known_hosts");
    WriteBytes(knownHosts, trusted == "known_hosts"
                               ? "[127.0.0.1]:" + Port() + ' ' + ReadBytes(m_server.HostKey())
                               : "");
    Run("ssh-keygen", {"-H", "-f", knownHosts}); // hashed, as Debian's ssh writes it
    const QByteArray hosts = ReadBytes(knownHosts);
    TlsTrust trust;
    if (trusted == "another key")
        Pin(trust, m_home.filePath(".ssh/id_ed25519.pub"));
    const qsizetype logStart = m_server.Log().size();
    // Cancelling the question trusts nothing: the next login stops the same way.
    for (int login = 0; login < 2; ++login) {
        try {
            (void)CInternetSession({}, nullptr, &trust)
                .GetFtpConnection(m_server.Address(), user, password);
            QCOMPARE(FtpReason::Done, reason);
        } catch (const CInternetException& failure) {
            QCOMPARE(failure.m_result.Reason(), reason);
        }
    }
    const QString log = m_server.Log().mid(logStart);
    const QString loggedUser = user.isEmpty() ? QString(Run("id", {"-un"}).trimmed()) : user;
    QVERIFY(logged.isEmpty() ? !log.contains(QRegularExpression("Accepted|Failed|Postp"))
                             : log.contains(logged + " for " + loggedUser + ' '));
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
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("new name") << "a b.bin" << false << false;
    QTest::newRow("replacing") << "文件 名.bin" << true << false;
    QTest::newRow("new name, cancelled") << "c.bin" << false << true;
    QTest::newRow("replacing, cancelled") << "d.bin" << true << true;
}

// Each complete upload comes back down again.
void SftpTest::uploadsReplaceOnlyWhenComplete() {
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QFETCH(bool, cancel);
    if (existing) { // under a second name too: the old file is never written to
        WriteBytes(Served(".old"), "old");
        Run("ln", {"-f", Served(".old"), Served(name)});
    }
    QByteArray content(100 << 20, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(content.data()), 100 << 18);
    const QString up = m_home.filePath("up"), down = m_home.filePath(name);
    WriteBytes(up, content);
    const FtpResult result = Interrupted(
        [&](CFtpConnection& c) {
            const FtpResult stored = c.PutFile(up, name.toUtf8());
            return stored ? c.GetFile(name.toUtf8(), down) : stored;
        },
        [&] { cancel ? m_monitor.Cancel() : void(); });
    QCOMPARE(result.Reason(), cancel ? FtpReason::Cancelled : FtpReason::Done);
    QCOMPARE(QDir(Served("")).entryList({".tolmi*"}, QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(!existing || ReadBytes(Served(".old")) == "old");
    QVERIFY(ReadBytes(Served(name)) ==
            (!cancel ? content : QByteArray(existing ? "old" : "(none)")));
    QVERIFY(cancel || ReadBytes(down) == content);
}

void SftpTest::stalledDownloadLeavesNoFile() {
    WriteBytes(Served("big.bin"), QByteArray(100 << 20, 'b'));
    int session = 0;
    const FtpResult result = Interrupted(
        [&](CFtpConnection& c) { return c.GetFile("big.bin", m_home.filePath("stalled")); },
        [&] { // the server stops answering
            if ((session = m_server.SessionPid()) > 0)
                ::kill(session, SIGSTOP);
        });
    ::kill(session, SIGCONT);
    QCOMPARE(result.Reason(), FtpReason::TimedOut); // past the stall limit
    QVERIFY(!QFile::exists(m_home.filePath("stalled")));
}

QTEST_GUILESS_MAIN(SftpTest)
#include "tst_sftp.moc"
