// The FTP layer against real and scripted servers: each step's result, what the server received,
// the files left on either side, and how long a wait may last.
#include "ftp/CFtpConnection.h"
#include "ftp/CFtpFileFind.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
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

// One step ("login", "list", "download", "upload") on a session of its own, as each command of
// the window has: the login's failure is the step's result. Downloads go to "got" in `local`,
// uploads come from "up" there.
struct Step {
    QTemporaryDir local;
    TransferMonitor monitor;
    FtpTimeouts timeouts;
    std::vector<RemoteEntry> entries;
    QString dir; // where the transfer happens, below the login directory
    RemotePath Directory() const {
        return dir.isEmpty() ? RemotePath() : RemotePath().Child(dir.toUtf8());
    }

    FtpResult Run(const QString& server, const QString& step, const QByteArray& name = "a.txt",
                  const QString& user = "tolmi", const QString& password = "secret") {
        const CInternetSession session(timeouts, &monitor);
        try {
            const auto connection = session.GetFtpConnection(server, user, password);
            if (!dir.isEmpty() && !connection->SetCurrentDirectory(Directory()))
                return FtpResult(FtpReason::Refused);
            if (step == "list")
                return connection->ReadDirectory(entries);
            if (step == "download")
                return connection->GetFile(name, local.filePath("got"));
            return step == "upload" ? connection->PutFile(local.filePath("up"), name) : FtpResult();
        } catch (const CInternetException& failure) {
            return failure.m_result;
        }
    }
    void Write(const QString& file, const QByteArray& content) const {
        QFile out(local.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
    }
};

// Names may be any bytes: a server's GBK name is no valid file name for QFile.
QByteArray Read(const QByteArray& path) {
    QFile file;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle) ? file.readAll()
                                                                                 : "(none)";
}

int Count(const QStringList& commands, const QString& pattern) {
    return pattern.isEmpty() ? 0 : int(commands.filter(QRegularExpression(pattern)).size());
}

// Scripted servers and pyftpdlib's options run once, in the pyftpdlib entry.
bool RunsOnce() {
    return TestServer::KindFromEnvironment() == ServerKind::Pyftpdlib;
}

} // namespace

class FtpTest : public QObject {
    Q_OBJECT

private slots:
    void scriptedServer_data();
    void scriptedServer();
    void realServer_data();
    void realServer();
    void pyftpdlibServer_data();
    void pyftpdlibServer();
    void refusedMlsdIsAskedOnceInTheRun();
    void cancelEndsAStalledLookup();
};

void FtpTest::scriptedServer_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("cancelAfterMs"); // 0: no cancel
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("entries"); // -1: not counted
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("commands"); // how many received commands match it
    const auto row = [](const QString& scenario, const char* step, FtpReason reason,
                        int entries = -1, const char* pattern = "", int commands = 0,
                        int cancel = 0, const char* listing = "good", QByteArray name = "a.txt") {
        QTest::addRow("%s %s %s%s", qPrintable(scenario), listing, step, cancel ? " cancelled" : "")
            << scenario << listing << step << name << cancel << reason << entries << pattern
            << commands;
    };
    using R = FtpReason;
    row("no_greeting", "login", R::TimedOut);
    row("no_user_reply", "login", R::TimedOut);
    row("all_5xx", "login", R::Refused);
    row("close_mid_login", "login", R::CutOff);
    row("garbage_replies", "login", R::Refused);
    row("endless_multiline", "login", R::TimedOut);
    row("close_mid_listing", "list", R::CutOff, 1);
    for (const char* step : {"download", "upload"}) {
        row("close_mid_transfer", step, R::CutOff);
        row("no_data_connection", step, R::TimedOut);
        row("stall_data", step, R::TimedOut);
        row("no_final_reply", step, R::TimedOut);
        // An upload asks for a second data connection: the rename's check of the stored size.
        row("pasv_elsewhere", step, R::Done, -1, "^PASV", step[0] == 'u' ? 2 : 1);
        row("late_425", step, R::Done, -1, "^EPSV", step[0] == 'u' ? 2 : 1);
        row("slow_passive", step, R::Done);
        row("stall_data", step, R::Cancelled, -1, "", 0, 300);
    }
    row("close_mid_transfer", "list", R::Done, 3);
    row("no_data_connection", "list", R::TimedOut, 0);
    row("stall_data", "list", R::TimedOut, 1);
    row("no_final_reply", "list", R::TimedOut, 3);
    row("pasv_elsewhere", "list", R::Done, 3);
    row("late_425", "list", R::Done, 3, "^EPSV", 1);
    row("late_425_no_mlsd", "list", R::Done, 3, "^EPSV", 1);
    row("slow_passive", "list", R::Done, 3);
    row("lying_size", "download", R::Done);
    row("no_quit_reply", "list", R::Done, 3, "^QUIT", 1);
    row("no_mlsd_no_quit_reply", "list", R::Done, 3, "^QUIT", 2);
    row("no_greeting", "login", R::Cancelled, -1, "", 0, 300);
    row("stall_data", "list", R::Cancelled, 0, "", 0, 300);
    // Only a refused temporary name is stored under the target itself.
    for (const char* code : {"425", "426", "452", "552", "550", "553"}) {
        const bool refusedName = QByteArray("550 553").contains(code);
        row(QString("stor_temp_") + code, "upload", refusedName ? R::Done : R::Refused, -1,
            "^STOR a.txt", refusedName);
    }
    // A name the server could misread is never sent back.
    row("good", "download", R::UnusableText, -1, "^(RETR|DELE)", 0, 0, "names", "evil\rDELE a.txt");
    row("good", "upload", R::UnusableText, -1, "^(STOR|DELE)", 0, 0, "names",
        QByteArray("n\0ul", 4));
    row("good", "list", R::Done, 6, "", 0, 0, "names");
    row("good", "list", R::Done, 2, "", 0, 0, "long_line");
    row("good", "list", R::Done, 200000, "", 0, 0, "many");
}

void FtpTest::scriptedServer() {
    if (!RunsOnce())
        QSKIP("runs once");
    QFETCH(QString, step);
    QFETCH(int, cancelAfterMs);
    QFETCH(QString, scenario);
    QFETCH(QString, listing);
    HostileServer server(scenario, listing);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    Step run;
    run.Write("up", QByteArray(300 * 1024, 'u'));
    // Short limits, but for the QUIT rows: their release must be bounded on its own.
    if (!scenario.contains("quit"))
        run.timeouts = {1000, 1000, 1000, 1000};
    std::thread cancel([&] {
        QThread::msleep(cancelAfterMs);
        if (cancelAfterMs > 0)
            run.monitor.Cancel();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    QFETCH(QByteArray, name);
    const FtpResult result = run.Run(server.Address(), step, name);
    cancel.join();
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
    QTEST(result.Reason(), "reason");
    QFETCH(int, entries);
    if (entries >= 0)
        QCOMPARE(int(run.entries.size()), entries);
    QCOMPARE(QFile::exists(run.local.filePath("got")), step == "download" && result);
    QFETCH(QString, pattern);
    QTEST(Count(server.Commands(), pattern), "commands");
}

void FtpTest::realServer_data() {
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("content");
    QByteArray bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes += char(byte);
    QByteArray random(32 << 20, Qt::Uninitialized);
    QRandomGenerator(21).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    for (const char* name : {"bytes.bin", "上传 文件.txt", "[up].txt", "%#?;type=a.txt"})
        QTest::newRow(name) << "" << QByteArray(name) << name << bytes;
    QTest::newRow("empty") << "" << QByteArray("empty.bin") << "empty.bin" << QByteArray();
    QTest::newRow("32 MiB") << "" << QByteArray("large.bin") << "large.bin" << random;
    QTest::newRow("in a directory") << "目录" << QByteArray("a.txt") << "a.txt" << bytes;
    // Servers that keep names as bytes (proftpd) list GBK names, shown decoded.
    QTest::newRow("GBK") << "" << QByteArray("\xd6\xd0\xce\xc4.txt") << "中文.txt" << bytes;
}

// Upload, listing and download byte for byte, on each real server kind.
void FtpTest::realServer() {
    QFETCH(QString, dir);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    TestServer server({TestServer::KindFromEnvironment()});
    if (name.startsWith('\xd6') && server.Kind() != ServerKind::Proftpd)
        QSKIP("pyftpdlib serves only UTF-8 names");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "at the top");
    server.MakeDirectory(dir + "/");
    Step run;
    run.dir = dir;
    run.Write("up", content);
    QCOMPARE(run.Run(server.Address(), "upload", name).Reason(), FtpReason::Done);
    const QByteArray root = QFile::encodeName(server.Root()) + "/";
    QCOMPARE(Read(root + dir.toUtf8() + "/" + name), content);
    QCOMPARE(Read(root + "a.txt"), "at the top");
    const CInternetSession session;
    const auto connection = session.GetFtpConnection(server.Address(), "tolmi", "secret");
    QVERIFY(connection->SetCurrentDirectory(run.Directory()));
    CFtpFileFind find(connection.get());
    QVERIFY(find.FindFile());
    bool more = find.HasEntries();
    while (more && find.GetRawFileName() != name)
        more = find.FindNextFile();
    QCOMPARE(find.GetRawFileName(), name);
    QTEST(find.GetFileName(), "shown");
    QCOMPARE(find.GetLength(), content.size());
    QVERIFY(connection->GetFile(name, run.local.filePath("got")));
    QCOMPARE(Read(QFile::encodeName(run.local.filePath("got"))), content);
    ::unlink(root + dir.toUtf8() + "/" +
             name); // a GBK name is beyond the temporary folder's clean-up
}

void FtpTest::pyftpdlibServer_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("fields"); // server, login name, password; %1: the server's address
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("existing"); // the remote a.txt before; empty: none
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("commands");      // how many received commands match it
    QTest::addColumn<QByteArray>("remote"); // a.txt afterwards, the only file left there
    QTest::addColumn<QByteArray>("local");  // the local "got" afterwards
    using R = FtpReason;
    const QString login = "%1|tolmi|secret";
    const QByteArray none = "(none)", up = "new content";
    QTest::newRow("replaced once complete") << "" << login << "upload" << QByteArray("old")
                                            << R::Done << "^RNTO a.txt" << 1 << up << none;
    QTest::newRow("no rename: direct") << "refuse-rename" << login << "upload" << QByteArray("old")
                                       << R::Done << "^STOR a.txt" << 1 << up << none;
    QTest::newRow("drop folder") << "drop-folder" << login << "upload" << QByteArray() << R::Done
                                 << "^STOR" << 1 << up << none;
    QTest::newRow("cut off") << "cut" << login << "upload" << QByteArray() << R::CutOff << "^STOR"
                             << 1 << none << none;
    QTest::newRow("cut off, replacing") << "cut" << login << "upload" << QByteArray("old")
                                        << R::CutOff << "^RNTO" << 0 << QByteArray("old") << none;
    QTest::newRow("active refused")
        << "refuse-active" << login << "download" << up << R::Done << "^EPRT" << 1 << up << up;
    QTest::newRow("local file exists")
        << "local-exists" << login << "download" << up << R::LocalFile << "^RETR" << 0 << up
        << QByteArray("precious");
    QTest::newRow("remote file gone")
        << "" << login << "download" << QByteArray() << R::Refused << "^RETR" << 1 << none << none;
    QTest::newRow("anonymous") << "anonymous"
                               << "%1||"
                               << "list" << QByteArray() << R::Done << "^USER anonymous" << 1
                               << none << none;
    for (const char* proxy : {"ftp_proxy", "all_proxy", "ALL_PROXY", "FTP_PROXY"})
        QTest::newRow(proxy) << QString("proxy=") + proxy << login << "list" << QByteArray()
                             << R::Done << "^USER" << 1 << none << none;
    // Fields that cannot be right fail with nothing sent; a long password is the server's to
    // refuse.
    const QList<std::pair<QString, FtpReason>> fields{
        {"127.0.0.1\rx|tolmi|secret", R::UnusableText},
        {"%1|tol\nmi|secret", R::UnusableText},
        {QString::fromLatin1("%1|tolmi|sec\0ret", 16), R::UnusableText},
        {QString(100000, 'h') + "|u|p", R::BadReply},
        {"   |u|p", R::Unreachable},
        {"127.0.0.1:0|u|p", R::Unreachable},
        {"127.0.0.1:70000|u|p", R::Unreachable},
        {"[::1|u|p", R::Unreachable}};
    for (const auto& [field, reason] : fields)
        QTest::addRow("%s", qPrintable(field.left(20).toUtf8().toPercentEncoding()))
            << "" << field << "login" << QByteArray() << reason << "^USER" << 0 << none << none;
    QTest::newRow("long password") << ""
                                   << "%1|tolmi|" + QString(100000, 'p') << "login" << QByteArray()
                                   << R::BadReply << "^USER" << 1 << none << none;
}

// Behaviour that needs one of pyftpdlib's options; they run once.
void FtpTest::pyftpdlibServer() {
    if (!RunsOnce())
        QSKIP("runs once");
    QFETCH(QString, options);
    QFETCH(QString, fields);
    QFETCH(QString, step);
    QFETCH(QByteArray, existing);
    TestServerOptions o;
    o.refuseRename = options == "refuse-rename";
    o.dropFolder = options == "drop-folder";
    o.cutUploadsAt = options == "cut" ? 102400 : 0;
    o.refuseActive = options == "refuse-active";
    o.anonymous = options == "anonymous";
    TestServer server(o);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    if (!existing.isEmpty())
        server.WriteFile("a.txt", existing);
    Step run;
    run.Write("up", options == "cut" ? QByteArray(1 << 20, 'c') : "new content");
    if (options == "local-exists")
        run.Write("got", "precious");
    const QByteArray proxy = options.section('=', 1).toLatin1();
    if (!proxy.isEmpty())
        qputenv(proxy, "http://127.0.0.1:9");
    const QStringList field = QString(fields).replace("%1", server.Address()).split('|');
    const FtpResult result = run.Run(field[0], step, "a.txt", field[1], field[2]);
    if (!proxy.isEmpty())
        qunsetenv(proxy);
    QTEST(result.Reason(), "reason");
    QFETCH(QString, pattern);
    QTEST(Count(server.Commands(), pattern), "commands");
    QTEST(Read(QFile::encodeName(server.Root() + "/a.txt")), "remote");
    QTEST(Read(QFile::encodeName(run.local.filePath("got"))), "local");
    QVERIFY(QDir(server.Root()).entryList(QDir::Files | QDir::Hidden).size() <= 1);
}

// What the run learnt of a server without MLSD lasts the run: one more login, once.
void FtpTest::refusedMlsdIsAskedOnceInTheRun() {
    TestServer server({TestServer::KindFromEnvironment()});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "a");
    MlsdSupport run;
    for (int command = 0; command < 3; ++command) {
        const CInternetSession session({}, nullptr, nullptr, &run);
        std::vector<RemoteEntry> entries;
        QVERIFY(
            session.GetFtpConnection(server.Address(), "tolmi", "secret")->ReadDirectory(entries));
        QCOMPARE(entries.back().name, "a.txt");
    }
    const bool mlsd = server.Kind() != ServerKind::PyftpdlibListOnly;
    QCOMPARE(Count(server.Commands(), "^USER "), mlsd ? 3 : 4);
    QCOMPARE(Count(server.Commands(), "^MLSD"), mlsd ? 3 : 1);
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
    std::thread cancel([&run] {
        QThread::msleep(300);
        run.monitor.Cancel();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(run.Run("stalled.test", "login").Reason(), FtpReason::Cancelled);
    cancel.join();
    ::close(resolver);
    QVERIFY2(elapsed.elapsed() < 1300, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_GUILESS_MAIN(FtpTest)
#include "tst_ftp.moc"
