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
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

// Names may be any bytes, GBK too.
QByteArray Read(const QByteArray& path) {
    std::ifstream file(path.constData(), std::ios::binary);
    return file ? QByteArray::fromStdString({std::istreambuf_iterator<char>(file), {}}) : "(none)";
}

// One step (login, list, download, upload) on a session of its own, as each window command has;
// a failed login is the step's result. Downloads go to "got" in `local`, uploads come from "up".
struct Step {
    QTemporaryDir local;
    TransferMonitor monitor;
    MlsdSupport mlsd;
    FtpTimeouts timeouts;
    std::vector<RemoteEntry> entries;
    QString dir;           // where the step happens, below the login directory
    int cancelAfterMs = 0; // 0: no cancel
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
            if (!dir.isEmpty())
                result = connection->SetCurrentDirectory(RemotePath().Child(dir.toUtf8()));
            if (result && step != "login")
                result = step == "list"       ? connection->ReadDirectory(entries)
                         : step == "download" ? connection->GetFile(name, local.filePath("got"))
                                              : connection->PutFile(local.filePath("up"), name);
        } catch (const CInternetException& failure) {
            result = failure.m_result;
        }
        elapsedMs = elapsed.elapsed();
        cancel.join();
        return result;
    }
    void Write(const QString& file, const QByteArray& content) const {
        std::ofstream(QFile::encodeName(local.filePath(file)), std::ios::binary)
            << content.toStdString();
    }
    QByteArray Got() const { return Read(QFile::encodeName(local.filePath("got"))); }
};

int Count(const QStringList& commands, const QString& pattern) {
    return int(commands.filter(QRegularExpression(pattern)).size());
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
    // Server: "scenario [listing]" (scripted) or "py [option]". Fields: server|user|password
    // [|remote name]. Existing: a.txt before. Count: commands matching, or "entries" listed.
    for (const char* column : {"server", "step", "fields", "pattern"})
        QTest::addColumn<QString>(column);
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("existing");
    const auto row = [](const QString& server, const QString& step, FtpReason reason,
                        const char* pattern = "^$", int count = 0, const QByteArray& existing = {},
                        const QString& fields = "%1|tolmi|secret") {
        const QByteArray tag = fields.left(16).toUtf8().toPercentEncoding(" |:[");
        QTest::addRow("%s %s %s", qPrintable(server), qPrintable(step),
                      fields.endsWith("secret") ? "" : tag.data())
            << server << step << fields << pattern << reason << count << existing;
    };
    using R = FtpReason;
    row("no_greeting", "login", R::TimedOut);
    row("no_greeting", "login cancelled", R::Cancelled);
    row("no_user_reply", "login", R::TimedOut);
    row("all_5xx", "login", R::Refused);
    row("close_mid_login", "login", R::CutOff);
    row("garbage_replies", "login", R::Refused);
    row("endless_multiline", "login", R::TimedOut);
    row("close_mid_transfer", "list", R::CutOff, "entries", 1);
    row("no_data_connection", "list", R::TimedOut, "entries", 0);
    row("stall_data", "list", R::TimedOut, "entries", 1);
    row("stall_data", "list cancelled", R::Cancelled, "entries", 0);
    row("no_final_reply", "list", R::TimedOut, "entries", 3);
    row("pasv_elsewhere", "list", R::Done, "entries", 3);
    row("late_425", "list", R::Done, "entries", 3);
    row("late_425_no_mlsd", "list", R::Done, "entries", 3);
    row("slow_passive", "list", R::Done, "entries", 3);
    row("no_quit_reply", "list", R::Done, "entries", 3);
    // Another host's data connection comes first: the listing is refused.
    row("data_from_elsewhere", "list", R::LocalFile, "entries", 0);
    for (const QString step : {"download", "upload"}) {
        // An upload's second data connection: the check of the stored size.
        const int connections = step == "upload" ? 2 : 1;
        row("close_mid_transfer", step, R::CutOff);
        row("stall_data", step, R::TimedOut);
        row("late_425", step, R::Done, "^EPSV", connections);
    }
    row("no_data_connection", "download", R::TimedOut);
    row("no_final_reply", "download", R::TimedOut);
    row("pasv_elsewhere", "download", R::Done, "^PASV", 1);
    row("lying_size", "download", R::Done);
    row("short_data", "download", R::CutOff);
    // Only a refused temporary name is stored under the target itself.
    for (const char* code : {"425", "426", "452", "552", "550", "553"}) {
        const bool refusedName = QByteArray("550 553").contains(code);
        row(QString("stor_temp_") + code, "upload", refusedName ? R::Done : R::Refused,
            "^STOR a.txt", refusedName);
    }
    // A name the server could misread is never sent back.
    row("good names", "download", R::UnusableText, "^(RETR|DELE)", 0, {}, "%1|u|p|a\rDELE b");
    row("good names", "upload", R::UnusableText, "^(STOR|DELE)", 0, {},
        QString::fromLatin1("%1|u|p|n\0ul", 11));
    row("good names", "list", R::Done, "entries", 5);
    row("no_mlsd names", "list", R::Done, "entries", 5);
    // A line no parser reads: the bare names list it all the same.
    row("no_mlsd unread", "list", R::Done, "entries", 2);
    row("good long_line", "list", R::Done, "entries", 2);
    row("good many", "list", R::Done, "entries", 200000);
    const QByteArray old = "old";
    row("py", "upload", R::Done, "^RNTO a.txt", 1, old);
    row("py refuse-rename", "upload", R::Done, "^STOR a.txt", 1, old);
    row("py drop-folder", "upload", R::Done, "^STOR a.txt", 1);
    row("py cut", "upload", R::CutOff, "^STOR", 1);
    row("py cut-replacing", "upload", R::CutOff, "^RNTO", 0, old);
    row("py slow", "upload cancelled", R::Cancelled, "^RNTO", 0, old);
    row("py slow", "download cancelled", R::Cancelled, "^RETR", 1, QByteArray(1 << 21, 'b'));
    row("py refuse-active", "download", R::Done, "^EPRT", 1, old);
    row("py local-exists", "download", R::LocalFile, "^RETR", 0, old);
    row("py", "download", R::Refused, "^RETR", 1); // gone since the listing
    row("py anonymous", "list", R::Done, "^USER anonymous", 1, {}, "%1||");
    row("py proxies", "list", R::Done, "^USER", 1);
    // Fields that cannot be right fail with nothing sent; a long password is the server's.
    for (const QString& bad :
         {QString("127.0.0.1\rx|u|p"), QString("%1|tol\nmi|p"), QString::fromLatin1("%1|u|\0", 6)})
        row("py", "login", R::UnusableText, "^USER", 0, {}, bad);
    for (const char* bad : {"   |u|p", "127.0.0.1:0|u|p", "127.0.0.1:70000|u|p", "[::1|u|p"})
        row("py", "login", R::Unreachable, "^USER", 0, {}, bad);
    row("py", "login", R::BadReply, "^USER", 0, {}, QString(100000, 'h') + "|u|p");
    row("py", "login", R::BadReply, "^USER", 1, {}, "%1|u|" + QString(100000, 'p'));
}

// Each step once, against the scripted server or pyftpdlib with an option.
void FtpTest::steps() {
    if (TestServer::KindFromEnvironment() != ServerKind::Pyftpdlib)
        QSKIP("runs once, with pyftpdlib");
    QFETCH(QString, server);
    QFETCH(QString, step);
    QFETCH(QByteArray, existing);
    const QString option = server.section(' ', 1);
    TestServerOptions o;
    o.refuseRename = option == "refuse-rename";
    o.dropFolder = option == "drop-folder";
    o.cutUploadsAt = option.startsWith("cut") ? 102400 : 0;
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
    const QByteArray up(2 << 20, 'u');
    const QByteArray local = option == "local-exists" ? "precious" : "(none)";
    run.Write("up", up);
    if (option == "local-exists")
        run.Write("got", local);
    // Short limits for misbehaving scenarios, but the QUIT rows: their release has its own bound.
    if (scripted && option.isEmpty() && !server.contains("quit"))
        run.timeouts = {1000, 1000, 1000, 1000};
    const auto proxies = {"ftp_proxy", "all_proxy", "ALL_PROXY", "FTP_PROXY"}; // none is used
    for (const char* proxy : proxies)
        qputenv(proxy, option == "proxies" ? "http://127.0.0.1:9" : "");
    run.cancelAfterMs = step.endsWith("cancelled") ? 300 : 0;
    QFETCH(QString, fields);
    const QStringList field =
        fields.replace("%1", scripted ? hostile.Address() : py.Address()).split('|');
    const FtpResult result = run.Run(field[0], step.section(' ', 0, 0),
                                     field.value(3, "a.txt").toUtf8(), field[1], field[2]);
    for (const char* proxy : proxies)
        qunsetenv(proxy);
    QCOMPARE_LT(run.elapsedMs, 10000);
    QTEST(result.Reason(), "reason");
    QFETCH(QString, pattern);
    QTEST(pattern == "entries" ? int(run.entries.size())
                               : Count(scripted ? hostile.Commands() : py.Commands(), pattern),
          "count");
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
    QByteArray random(32 << 20, Qt::Uninitialized);
    QRandomGenerator(21).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    for (const char* name : {"上传 文件.txt", "[up].txt", "%#?;type=a.txt"})
        QTest::newRow(name) << "" << QByteArray(name) << QByteArray(name);
    QTest::newRow("empty") << "" << QByteArray("empty.bin") << QByteArray();
    QTest::newRow("32 MiB") << "" << QByteArray("large.bin") << random;
    QTest::newRow("in a directory") << "目录" << QByteArray("a.txt") << QByteArray("in");
    // Servers that keep names as bytes (proftpd) list GBK names: shown decoded, sent as they came.
    QTest::newRow("GBK") << "" << QByteArray("\xd6\xd0\xce\xc4.txt") << QByteArray("gbk");
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
    const auto listed = [&](const RemoteEntry& entry) {
        return entry.name == name && entry.size == content.size();
    };
    QVERIFY(std::any_of(run.entries.begin(), run.entries.end(), listed));
    QCOMPARE(RemoteName::Display(name), gbk ? "中文.txt" : QString::fromUtf8(name));
    QVERIFY(run.Run(server.Address(), "download", name));
    QCOMPARE(run.Got(), content);
    ::unlink(path); // a GBK name defeats the temporary folder's clean-up
    // What the run learnt of a server without MLSD lasts: one more login, once.
    const bool mlsd = server.Kind() != ServerKind::PyftpdlibListOnly;
    QCOMPARE(Count(server.Commands(), "^USER "), mlsd ? 4 : 5);
    QCOMPARE(Count(server.Commands(), "^MLSD"), mlsd ? 2 : 1);
}

void FtpTest::cancelEndsAStalledLookup() {
    // The resolver its CTest entry names in /etc/resolv.conf: takes every question, answers none.
    sockaddr_in address{AF_INET, htons(53), {}, {}};
    const int resolver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (inet_pton(AF_INET, qgetenv("TOLMI_SILENT_RESOLVER"), &address.sin_addr) != 1 ||
        ::bind(resolver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(resolver);
        QSKIP("runs in its own CTest entry");
    }
    Step run;
    run.cancelAfterMs = 300;
    QCOMPARE(run.Run("stalled.test", "login").Reason(), FtpReason::Cancelled);
    ::close(resolver);
    QCOMPARE_LT(run.elapsedMs, 1300);
}

QTEST_GUILESS_MAIN(FtpTest)
#include "tst_ftp.moc"
