// The FTP layer on its own, against real and scripted servers: what a command costs the server
// (logins, requests, files left behind) and how long its waits may last.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "ftp/MlsdSupport.h"
#include "support/HostileServer.h"
#include "support/TestServer.h"

#include <QtTest>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The resolver tests/data/stalled_resolv.conf names; only its CTest entry mounts that file.
constexpr char kStalledResolver[] = "127.5.3.1";

std::unique_ptr<CFtpConnection> LogIn(const CInternetSession& session, const QString& address) {
    return session.GetFtpConnection(address, "tolmi", "secret");
}

} // namespace

class FtpConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void refusedMlsdIsAskedOnceInTheRun_data();
    void refusedMlsdIsAskedOnceInTheRun();
    void releaseAfterRefusedMlsdIsBounded();
    void cancelEndsAStalledLookup();
    void uploadsLeaveOnlyTheTarget_data();
    void uploadsLeaveOnlyTheTarget();
    void failuresSayWhy_data();
    void failuresSayWhy();
};

void FtpConnectionTest::refusedMlsdIsAskedOnceInTheRun_data() {
    QTest::addColumn<bool>("mlsd");
    QTest::newRow("MLSD") << true;
    QTest::newRow("LIST only") << false;
}

void FtpConnectionTest::refusedMlsdIsAskedOnceInTheRun() {
    QFETCH(bool, mlsd);
    TestServer server({mlsd ? ServerKind::Pyftpdlib : ServerKind::PyftpdlibListOnly});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "a");
    MlsdSupport run;
    for (int command = 0; command < 3; ++command) {
        // Each command has its session, as the window's do; what was learnt lasts the run.
        const CInternetSession session({}, nullptr, nullptr, &run);
        std::vector<RemoteEntry> entries;
        QVERIFY(LogIn(session, server.Address())->ReadDirectory(entries));
        QCOMPARE(entries.size(), size_t(1));
    }
    // A refused MLSD costs one more login, once in the run.
    QCOMPARE(server.Commands().filter(QRegularExpression("^USER ")).size(), mlsd ? 3 : 4);
    QCOMPARE(server.Commands().filter(QRegularExpression("^MLSD")).size(), mlsd ? 3 : 1);
}

void FtpConnectionTest::releaseAfterRefusedMlsdIsBounded() {
    HostileServer server("no_mlsd_no_quit_reply", "good");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    const CInternetSession session;
    const auto connection = LogIn(session, server.Address());
    std::vector<RemoteEntry> entries;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(connection->ReadDirectory(entries));
    QVERIFY2(elapsed.elapsed() < 4000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(!entries.empty());
}

void FtpConnectionTest::cancelEndsAStalledLookup() {
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
    TransferMonitor monitor;
    const CInternetSession session({}, &monitor);
    std::thread cancel([&monitor] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        monitor.Cancel();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY_THROWS_EXCEPTION(CInternetException, LogIn(session, "stalled.test"));
    cancel.join();
    ::close(resolver);
    QVERIFY2(elapsed.elapsed() < 1300, qPrintable(QString::number(elapsed.elapsed())));
}

void FtpConnectionTest::uploadsLeaveOnlyTheTarget_data() {
    QTest::addColumn<bool>("dropFolder");
    QTest::addColumn<QByteArray>("existing"); // empty: no file of the target name yet
    QTest::addColumn<int>("cutAt");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("stores");
    const QStringList target{"up.txt"};
    QTest::newRow("new name, drop folder") << true << QByteArray() << 0 << target << 1;
    QTest::newRow("new name, cut off") << false << QByteArray() << 102400 << QStringList() << 1;
    QTest::newRow("replacing") << false << QByteArray("old") << 0 << target << 1;
}

void FtpConnectionTest::uploadsLeaveOnlyTheTarget() {
    QFETCH(bool, dropFolder);
    QFETCH(QByteArray, existing);
    QFETCH(int, cutAt);
    QFETCH(QStringList, left);
    QFETCH(int, stores);
    TestServerOptions options;
    options.dropFolder = dropFolder;
    options.cutUploadsAt = cutAt;
    TestServer server(options);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    if (!existing.isEmpty())
        server.WriteFile("up.txt", existing);
    QTemporaryDir local;
    const QByteArray content(1 << 20, 'n');
    QFile file(local.filePath("up.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    const CInternetSession session;
    QCOMPARE(bool(LogIn(session, server.Address())->PutFile(file.fileName(), "up.txt")),
             cutAt == 0);
    const QDir root(server.Root());
    QCOMPARE(root.entryList(QDir::Files | QDir::Hidden), left);
    QCOMPARE(server.Commands().filter(QRegularExpression("^STOR ")).size(), stores);
    // An existing file is replaced only by a rename of the complete upload.
    QCOMPARE(server.Commands().filter(QRegularExpression("^RNTO up.txt")).size(),
             existing.isEmpty() ? 0 : 1);
    if (cutAt == 0) {
        QFile stored(root.filePath("up.txt"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), content);
    }
}

void FtpConnectionTest::failuresSayWhy_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("step");
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<long>("code");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("store refused")
        << "stor_temp_452"
        << "upload" << FtpReason::Refused << 452L << QByteArray("452 Not stored");
    QTest::newRow("cancelled") << "good"
                               << "cancelled download" << FtpReason::Cancelled << 0L
                               << QByteArray();
    QTest::newRow("local file exists")
        << "good"
        << "download onto a file" << FtpReason::LocalFile << 0L << QByteArray();
}

void FtpConnectionTest::failuresSayWhy() {
    QFETCH(QString, scenario);
    QFETCH(QString, step);
    HostileServer server(scenario, "good");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    QTemporaryDir local;
    QFile file(local.filePath("f.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("local") == 5);
    file.close();
    TransferMonitor monitor;
    const CInternetSession session({}, &monitor);
    const auto connection = LogIn(session, server.Address());
    if (step == "cancelled download")
        monitor.Cancel();
    const FtpResult result = step == "upload" ? connection->PutFile(file.fileName(), "up.txt")
                             : step == "download onto a file"
                                 ? connection->GetFile("a.txt", file.fileName())
                                 : connection->GetFile("a.txt", local.filePath("new.txt"));
    QTEST(result.Reason(), "reason");
    // A cancel ends the step wherever it is; the last reply is then whichever came.
    if (result.Reason() != FtpReason::Cancelled) {
        QTEST(result.ReplyCode(), "code");
        QTEST(result.ReplyText(), "reply");
    }
    QVERIFY(!QFile::exists(local.filePath("new.txt")));
}

QTEST_MAIN(FtpConnectionTest)
#include "tst_ftp_connection.moc"
