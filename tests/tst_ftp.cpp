// The FTP layer against real and scripted servers: each step's result, what the server received,
// the files left on either side, how long a wait lasts.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "listing/RemoteName.h"
#include "support/HostileServer.h"
#include "support/TestServer.h"

#include <QtTest>
#include <arpa/inet.h>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// The resolver tests/data/stalled_resolv.conf names; only its CTest entry mounts that file.
constexpr char kStalledResolver[] = "127.5.3.1";

// Names may be any bytes: a server's GBK name is no valid file name for QFile.
QByteArray Read(const QByteArray& path) {
    QFile file;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle) ? file.readAll()
                                                                                 : "(none)";
}

// One step ("login", "list", "download", "upload") on a session of its own, as each command of
// the window has: the login's failure is the step's result. Downloads go to "got" in `local`,
// uploads come from "up" there. A cancel comes after `cancelAfterMs` where that is set.
struct Step {
    QTemporaryDir local;
    TransferMonitor monitor;
    MlsdSupport mlsd;
    FtpTimeouts timeouts;
    std::vector<RemoteEntry> entries;
    QString dir; // where the step happens, below the login directory
    int cancelAfterMs = 0;
    qint64 elapsedMs = 0;

    FtpResult Run(const QString& server, const QString& step, const QByteArray& name = "a.txt",
                  const QString& user = "tolmi", const QString& password = "secret") {
        const CInternetSession session(timeouts, &monitor, nullptr, &mlsd);
        std::thread cancel([this] {
            QThread::msleep(cancelAfterMs);
            if (cancelAfterMs > 0)
                monitor.Cancel();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        FtpResult result;
        try {
            const auto connection = session.GetFtpConnection(server, user, password);
            const QString up = local.filePath("up"), got = local.filePath("got");
            if (!dir.isEmpty())
                result = connection->SetCurrentDirectory(RemotePath().Child(dir.toUtf8()));
            if (result && step != "login")
                result = step == "list"       ? connection->ReadDirectory(entries)
                         : step == "download" ? connection->GetFile(name, got)
                                              : connection->PutFile(up, name);
        } catch (const CInternetException& failure) {
            result = failure.m_result;
        }
        elapsedMs = elapsed.elapsed();
        cancel.join();
        return result;
    }
    void Write(const QString& file, const QByteArray& content) const {
        QFile out(local.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
    }
    QByteArray Got() const { return Read(QFile::encodeName(local.filePath("got"))); }
};

int Count(const QStringList& commands, const QString& pattern) {
    return pattern.isEmpty() ? 0 : int(commands.filter(QRegularExpression(pattern)).size());
}

} // namespace

class FtpTest : public QObject {
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void realServer_data();
    void realServer();
    void cancelEndsAStalledLookup();
};

void FtpTest::steps_data() {
    // Server: "scenario [listing]" of the scripted server, or "py [option]": pyftpdlib. Fields:
    // server|user|password[|remote name], %1 the server's address. Existing: the remote a.txt
    // before. Entries: -1 not counted. Commands: how many received match the pattern.
    for (const char* column : {"server", "step", "fields", "pattern"})
        QTest::addColumn<QString>(column);
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("commands");
    QTest::addColumn<QByteArray>("existing");
    const auto row = [](const QString& server, const QString& step, FtpReason reason,
                        int entries = -1, const char* pattern = "", int commands = 0,
                        const QByteArray& existing = {},
                        const QString& fields = "%1|tolmi|secret") {
        const QByteArray tag = fields.left(16).toUtf8().toPercentEncoding(" |:[");
        QTest::addRow("%s %s%s %s", qPrintable(server), qPrintable(step),
                      existing.isEmpty() ? "" : " over a.txt",
                      fields.endsWith("secret") ? "" : tag.data())
            << server << step << fields << pattern << reason << entries << commands << existing;
    };
    using R = FtpReason;
    row("no_greeting", "login", R::TimedOut);
    row("no_greeting", "login cancelled", R::Cancelled);
    row("no_user_reply", "login", R::TimedOut);
    row("all_5xx", "login", R::Refused);
    row("close_mid_login", "login", R::CutOff);
    row("garbage_replies", "login", R::Refused);
    row("endless_multiline", "login", R::TimedOut);
    row("close_mid_transfer", "list", R::CutOff, 1);
    row("no_data_connection", "list", R::TimedOut, 0);
    row("stall_data", "list", R::TimedOut, 1);
    row("stall_data", "list cancelled", R::Cancelled, 0);
    row("no_final_reply", "list", R::TimedOut, 3);
    row("pasv_elsewhere", "list", R::Done, 3, "^PASV", 1);
    row("late_425", "list", R::Done, 3, "^EPSV", 1);
    row("late_425_no_mlsd", "list", R::Done, 3, "^EPSV", 1);
    row("slow_passive", "list", R::Done, 3);
    row("no_quit_reply", "list", R::Done, 3, "^QUIT", 1);
    // The data connection comes second, after another host's: only the server's is taken.
    row("data_from_elsewhere", "list", R::LocalFile, 0);
    for (const QString step : {"download", "upload"}) {
        // An upload's second data connection: the check of the stored size.
        const int connections = step == "upload" ? 2 : 1;
        row("close_mid_transfer", step, R::CutOff);
        row("stall_data", step, R::TimedOut);
        row("late_425", step, R::Done, -1, "^EPSV", connections);
    }
    row("no_data_connection", "download", R::TimedOut);
    row("no_final_reply", "download", R::TimedOut);
    row("pasv_elsewhere", "download", R::Done, -1, "^PASV", 1);
    row("lying_size", "download", R::Done);
    // Only a refused temporary name is stored under the target itself.
    for (const char* code : {"425", "426", "452", "552", "550", "553"}) {
        const bool refusedName = QByteArray("550 553").contains(code);
        row(QString("stor_temp_") + code, "upload", refusedName ? R::Done : R::Refused, -1,
            "^STOR a.txt", refusedName);
    }
    // A name the server could misread is never sent back.
    row("good names", "download", R::UnusableText, -1, "^(RETR|DELE)", 0, {}, "%1|u|p|a\rDELE b");
    row("good names", "upload", R::UnusableText, -1, "^(STOR|DELE)", 0, {},
        QString::fromLatin1("%1|u|p|n\0ul", 11));
    row("good names", "list", R::Done, 5);
    row("no_mlsd names", "list", R::Done, 5);
    row("good long_line", "list", R::Done, 2);
    row("good many", "list", R::Done, 200000);
    const QByteArray old = "old";
    row("py", "upload", R::Done, -1, "^RNTO a.txt", 1, old);
    row("py refuse-rename", "upload", R::Done, -1, "^STOR a.txt", 1, old);
    row("py drop-folder", "upload", R::Done, -1, "^STOR a.txt", 1);
    row("py cut", "upload", R::CutOff, -1, "^STOR", 1);
    row("py cut", "upload", R::CutOff, -1, "^RNTO", 0, old);
    row("py slow", "upload cancelled", R::Cancelled, -1, "^RNTO", 0, old);
    row("py slow", "download cancelled", R::Cancelled, -1, "^RETR", 1, QByteArray(1 << 21, 'b'));
    row("py refuse-active", "download", R::Done, -1, "^EPRT", 1, old);
    row("py local-exists", "download", R::LocalFile, -1, "^RETR", 0, old);
    row("py", "download", R::Refused, -1, "^RETR", 1); // gone since the listing
    row("py anonymous", "list", R::Done, -1, "^USER anonymous", 1, {}, "%1||");
    for (const char* proxy : {"ftp_proxy", "all_proxy", "ALL_PROXY", "FTP_PROXY"})
        row(QString("py proxy=") + proxy, "list", R::Done, -1, "^USER", 1);
    // Fields that cannot be right fail with nothing sent; a long password is the server's.
    for (const QString bad : {"127.0.0.1\rx|u|p", "%1|tol\nmi|p"})
        row("py", "login", R::UnusableText, -1, "^USER", 0, {}, bad);
    row("py", "login", R::UnusableText, -1, "^USER", 0, {}, QString::fromLatin1("%1|u|\0", 6));
    for (const QString bad : {"   |u|p", "127.0.0.1:0|u|p", "127.0.0.1:70000|u|p", "[::1|u|p"})
        row("py", "login", R::Unreachable, -1, "^USER", 0, {}, bad);
    row("py", "login", R::BadReply, -1, "^USER", 0, {}, QString(100000, 'h') + "|u|p");
    row("py", "login", R::BadReply, -1, "^USER", 1, {}, "%1|u|" + QString(100000, 'p'));
}

// Each step once, against the scripted server or pyftpdlib with an option.
void FtpTest::steps() {
    if (TestServer::KindFromEnvironment() != ServerKind::Pyftpdlib)
        QSKIP("runs once, in the pyftpdlib entry");
    QFETCH(QString, server);
    QFETCH(QString, step);
    QFETCH(QByteArray, existing);
    const QString option = server.section(' ', 1);
    TestServerOptions o;
    o.refuseRename = option == "refuse-rename";
    o.dropFolder = option == "drop-folder";
    o.cutUploadsAt = option == "cut" ? 102400 : 0;
    o.throttle = option == "slow" ? 204800 : 0;
    o.refuseActive = option == "refuse-active";
    o.anonymous = option == "anonymous";
    const bool scripted = !server.startsWith("py");
    TestServer py(o);
    HostileServer hostile(server.section(' ', 0, 0), option.isEmpty() ? "good" : option);
    QString error;
    QVERIFY2(scripted ? hostile.Start(error) : py.Start(error), qPrintable(error));
    if (!existing.isEmpty())
        py.WriteFile("a.txt", existing);
    Step run;
    const QByteArray up(option == "cut" || option == "slow" ? 2 << 20 : 1000, 'u');
    const QByteArray local = option == "local-exists" ? "precious" : "(none)";
    run.Write("up", up);
    if (option == "local-exists")
        run.Write("got", local);
    // Short limits, but for the QUIT rows: the release has a bound of its own.
    if (scripted && !server.contains("quit"))
        run.timeouts = {1000, 1000, 1000, 1000};
    const QByteArray proxy = option.section('=', 1).toLatin1();
    if (!proxy.isEmpty())
        qputenv(proxy, "http://127.0.0.1:9");
    run.cancelAfterMs = step.endsWith("cancelled") ? 300 : 0;
    QFETCH(QString, fields);
    const QStringList field =
        fields.replace("%1", scripted ? hostile.Address() : py.Address()).split('|');
    const FtpResult result = run.Run(field[0], step.section(' ', 0, 0),
                                     field.value(3, "a.txt").toUtf8(), field[1], field[2]);
    qunsetenv(proxy);
    QVERIFY2(run.elapsedMs < 10000, qPrintable(QString::number(run.elapsedMs)));
    QTEST(result.Reason(), "reason");
    QFETCH(int, entries);
    if (entries >= 0)
        QCOMPARE(int(run.entries.size()), entries);
    QFETCH(QString, pattern);
    QTEST(Count(scripted ? hostile.Commands() : py.Commands(), pattern), "commands");
    // Files change only by a complete step, and no other file is left on either side.
    const QByteArray served = scripted ? "content of a file\n" : existing;
    QCOMPARE(run.Got(), result && step.startsWith("download") ? served : local);
    if (!scripted) {
        const QByteArray before = existing.isEmpty() ? "(none)" : existing;
        QCOMPARE(Read(QFile::encodeName(py.Root() + "/a.txt")),
                 result && step.startsWith("upload") ? up : before);
        QVERIFY(QDir(py.Root()).entryList(QDir::Files | QDir::Hidden).size() <= 1);
    }
}

void FtpTest::realServer_data() {
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("content");
    QByteArray bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes += char(byte);
    QByteArray random(32 << 20, Qt::Uninitialized);
    QRandomGenerator(21).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    for (const char* name : {"bytes.bin", "上传 文件.txt", "[up].txt", "%#?;type=a.txt"})
        QTest::newRow(name) << "" << QByteArray(name) << bytes;
    QTest::newRow("empty") << "" << QByteArray("empty.bin") << QByteArray();
    QTest::newRow("32 MiB") << "" << QByteArray("large.bin") << random;
    QTest::newRow("in a directory") << "目录" << QByteArray("a.txt") << bytes;
    // Servers that keep names as bytes (proftpd) list GBK names: shown decoded, sent as they came.
    QTest::newRow("GBK") << "" << QByteArray("\xd6\xd0\xce\xc4.txt") << bytes;
}

// Upload, listing and download byte for byte, on each real server kind.
void FtpTest::realServer() {
    QFETCH(QString, dir);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    TestServer server({TestServer::KindFromEnvironment()});
    const bool gbk = name.startsWith('\xd6');
    if (gbk && server.Kind() != ServerKind::Proftpd)
        QSKIP("pyftpdlib serves only UTF-8 names");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "at the top");
    server.MakeDirectory(dir + "/");
    Step run;
    run.dir = dir;
    run.Write("up", content);
    QVERIFY(run.Run(server.Address(), "upload", name));
    const QByteArray path = QFile::encodeName(server.Root() + "/" + dir + "/") + name;
    QCOMPARE(Read(path), content);
    QVERIFY(run.Run(server.Address(), "list") && run.Run(server.Address(), "list"));
    const auto entry = std::find_if(run.entries.begin(), run.entries.end(),
                                    [&](const RemoteEntry& entry) { return entry.name == name; });
    QVERIFY(entry != run.entries.end());
    QCOMPARE(RemoteName::Display(name), gbk ? "中文.txt" : QString::fromUtf8(name));
    QCOMPARE(entry->size, content.size());
    QVERIFY(run.Run(server.Address(), "download", name));
    QCOMPARE(run.Got(), content);
    ::unlink(path); // a GBK name is beyond the temporary folder's clean-up
    // What the run learnt of a server without MLSD lasts: one more login, once.
    const bool mlsd = server.Kind() != ServerKind::PyftpdlibListOnly;
    QCOMPARE(Count(server.Commands(), "^USER "), mlsd ? 4 : 5);
    QCOMPARE(Count(server.Commands(), "^MLSD"), mlsd ? 2 : 1);
}

void FtpTest::cancelEndsAStalledLookup() {
    // A resolver that takes every question and never answers.
    QFile resolvConf("/etc/resolv.conf");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    inet_pton(AF_INET, kStalledResolver, &address.sin_addr);
    const int resolver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (!resolvConf.open(QIODevice::ReadOnly) || !resolvConf.readAll().contains(kStalledResolver) ||
        ::bind(resolver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(resolver);
        QSKIP("runs in its own CTest entry, which names the silent resolver");
    }
    Step run;
    run.cancelAfterMs = 300;
    QCOMPARE(run.Run("stalled.test", "login").Reason(), FtpReason::Cancelled);
    ::close(resolver);
    QVERIFY2(run.elapsedMs < 1300, qPrintable(QString::number(run.elapsedMs)));
}

QTEST_GUILESS_MAIN(FtpTest)
#include "tst_ftp.moc"
