// Every command against servers that misbehave: nothing crashes, hangs or is lost.
#include "ftp/RemoteName.h"
#include "tests/support/DataFile.h"
#include "tests/support/HostileServer.h"
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <sys/resource.h>

namespace {

const QStringList kCommands = {"connect", "refresh", "enter", "upload", "download"};

// What a command shows when the login fails.
QString LoginFailure(const QString& command) {
    if (command == "refresh")
        return "无法刷新！";
    if (command == "upload")
        return "上传失败！";
    if (command == "download")
        return "下载失败!";
    return "无法连接！";
}

QString Success(const QString& command, const QString& server) {
    if (command == "connect")
        return "连接成功！" + server;
    if (command == "refresh")
        return "刷新成功！";
    if (command == "upload")
        return "上传成功！";
    if (command == "download")
        return "下载成功!";
    return QString(); // entering a directory says nothing when it works
}

bool Lists(const QString& command) {
    return command == "connect" || command == "refresh" || command == "enter";
}

// Starts the scripted server and connects the window to it.
bool StartAndConnect(HostileServer& server, WindowDriver& window) {
    QString error;
    if (!server.Start(error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    window.Type(server.Address(), "u", "p");
    window.dlg.OnConnect();
    return true;
}

QString ShownPath(const RemotePath& directory) {
    QStringList segments;
    for (const QByteArray& segment : directory.Segments())
        segments << RemoteName::Display(segment);
    return "/" + segments.join('/');
}

QStringList Sorted(QStringList lines) {
    lines.sort();
    return lines;
}

// What the window must do with one listing kind of the scripted server.
struct ServedListing {
    QHash<QString, QStringList> shown;            // per directory, in the window's order
    QList<std::pair<QString, QString>> enters;    // line, directory listed afterwards
    QList<std::pair<QString, QString>> downloads; // line, "ok" or "fail"
    bool asksNames = false;
};

ServedListing ReadServedListing(const QString& kind) {
    ServedListing served;
    for (const QList<QByteArray>& row : ReadDataRows("served_listings.tsv")) {
        if (row[0] != kind.toUtf8())
            continue;
        const QString subject = QString::fromUtf8(row[1]);
        const QString text = QString::fromUtf8(row[3]);
        if (row[2] == "SHOWN")
            served.shown[subject] << text;
        else if (row[2] == "ENTER")
            served.enters.append({subject, text});
        else if (row[2] == "DOWNLOAD")
            served.downloads.append({subject, text});
        else if (row[2] == "ASKS_NAMES")
            served.asksNames = true;
    }
    return served;
}

// libcurl's handles are made with calloc: this one fails on demand.
std::atomic<bool> g_callocFails{false};

void* SwitchableCalloc(size_t count, size_t size) {
    return g_callocFails ? nullptr : std::calloc(count, size);
}

} // namespace

class HostileTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void commandSurvivesScenario_data();
    void commandSurvivesScenario();
    void hostileListingsAreShownSafely();
    void everyServedEntryIsShown_data();
    void everyServedEntryIsShown();
    void namesWithLineBreaksAreNeverSentBack();
    void badUserInputGetsClearOutcome_data();
    void badUserInputGetsClearOutcome();
    void localFileProblemsGetClearOutcome();
    void fullDiskLeavesNoPartialFile();
    void unansweredQuitHoldsNothingUp();
    void failedLibraryHandleFailsLikeALogin();

private:
    // Prepares `window` for `command` on a good server (listing, selection), then points the
    // fields at `address` and runs the command; returns the seconds it took.
    double Run(WindowDriver& window, const QString& command, const QString& address,
               long connectMs);

    std::unique_ptr<TestServer> m_good;
    std::unique_ptr<QTemporaryDir> m_local;
    QString m_target;
    QString m_source;
};

void HostileTest::initTestCase() {
    // Before anything else in this process starts libcurl.
    QCOMPARE(curl_global_init_mem(CURL_GLOBAL_DEFAULT, std::malloc, std::free, std::realloc, strdup,
                                  SwitchableCalloc),
             CURLE_OK);
    m_good = std::make_unique<TestServer>();
    m_good->WriteFile("a.txt", "good a");
    m_good->MakeDirectory("docs");
    QString error;
    QVERIFY2(m_good->Start(error), qPrintable(error));
}

void HostileTest::init() {
    m_local = std::make_unique<QTemporaryDir>();
    m_target = m_local->filePath("downloaded.txt");
    m_source = m_local->filePath("upload.txt");
    QFile source(m_source);
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(QByteArray(300 * 1024, 'u'));
}

double HostileTest::Run(WindowDriver& window, const QString& command, const QString& address,
                        long connectMs) {
    FtpTimeouts timeouts;
    timeouts.responseMs = timeouts.stallMs = timeouts.acceptMs = 1000;
    timeouts.connectMs = connectMs;
    window.dlg.SetFtpTimeouts(timeouts);
    window.LogInTo(*m_good);
    window.Click(window.dlg.m_btnConnect);
    window.dlg.m_editServer->setText(address);
    QElapsedTimer timer;
    timer.start();
    if (command == "connect") {
        window.dlg.OnConnect();
    } else if (command == "refresh") {
        window.dlg.OnRefresh();
    } else if (command == "enter") {
        timer.invalidate();
        window.ClickLine("[docs]");
        timer.start();
        window.dlg.OnFileListDblClk();
    } else if (command == "upload") {
        window.prompter->openAnswers << m_source;
        window.dlg.OnUpload();
    } else {
        window.ClickLine("a.txt");
        window.prompter->saveAnswers << m_target;
        timer.restart();
        window.dlg.OnDownload();
    }
    return timer.elapsed() / 1000.0;
}

void HostileTest::commandSurvivesScenario_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("loginWorks");
    QTest::addColumn<bool>("transferWorks");
    QTest::addColumn<int>("minLines"); // for listing commands, when the login works
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("connectMs");

    struct Scenario {
        const char* name;
        bool loginWorks;
        bool transferWorks;
        int minLines;
        int maxLines;
        // Every server here is on loopback: connecting never takes long, but a sanitizer
        // build can be slow enough to miss a one-second limit.
        int connectMs = 3000;
    };
    const Scenario scenarios[] = {
        {"no_greeting", false, false, 0, 0},
        {"no_user_reply", false, false, 0, 0},
        {"all_5xx", false, false, 0, 0},
        {"close_mid_login", false, false, 0, 0},
        {"garbage_replies", false, false, 0, 0},
        {"endless_multiline", false, false, 0, 0},
        {"close_mid_listing", true, true, 0, 2},
        {"close_mid_transfer", true, false, 3, 3},
        {"no_data_connection", true, false, 0, 0},
        {"stall_data", true, false, 0, 1},
        {"no_final_reply", true, false, 0, 3},
        {"pasv_elsewhere", true, true, 3, 3},
        {"late_425", true, true, 3, 3},
        {"late_425_no_mlsd", true, true, 3, 3},
        {"slow_passive", true, true, 3, 3, 1000},
    };
    for (const Scenario& s : scenarios) {
        for (const QString& command : kCommands) {
            QTest::addRow("%s %s", s.name, qPrintable(command))
                << QString(s.name) << command << s.loginWorks << s.transferWorks << s.minLines
                << s.maxLines << s.connectMs;
        }
    }
}

void HostileTest::commandSurvivesScenario() {
    QFETCH(QString, scenario);
    QFETCH(QString, command);
    QFETCH(bool, loginWorks);
    QFETCH(bool, transferWorks);
    QFETCH(int, minLines);
    QFETCH(int, maxLines);
    QFETCH(int, connectMs);

    HostileServer server(scenario, "good");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    WindowDriver window;
    const double seconds = Run(window, command, server.Address(), connectMs);
    QVERIFY2(seconds < 12, qPrintable(QString("took %1 s").arg(seconds)));

    // The first message is the good server's Connect.
    const QStringList shown = window.prompter->messages.mid(1);
    const QString success = Success(command, server.Address());
    if (!loginWorks) {
        QCOMPARE(shown, QStringList{LoginFailure(command)});
        if (Lists(command))
            QVERIFY(window.Lines().isEmpty());
    } else if (Lists(command)) {
        QCOMPARE(shown, success.isEmpty() ? QStringList() : QStringList{success});
        QVERIFY2(window.Lines().size() >= minLines && window.Lines().size() <= maxLines,
                 qPrintable(window.Lines().join(',')));
    } else {
        QCOMPARE(shown, QStringList{transferWorks ? success : LoginFailure(command)});
    }
    if (command == "download")
        QCOMPARE(QFile::exists(m_target), transferWorks && loginWorks);
    QVERIFY(window.ConnectionReleased());

    // The next command against a good server works at once.
    window.LogInTo(*m_good);
    window.dlg.OnRefresh();
    QCOMPARE(window.prompter->messages.last(), QString("刷新成功！"));
}

void HostileTest::hostileListingsAreShownSafely() {
    for (const char* listing : {"names", "long_line", "many"}) {
        HostileServer server("normal", listing);
        WindowDriver window;
        QVERIFY(StartAndConnect(server, window));
        const QStringList lines = window.Lines();
        if (QByteArray(listing) == "names") {
            QVERIFY(lines.contains("[docs]") && lines.contains("a.txt") && lines.contains("/"));
            QVERIFY(lines.contains("[..]"));
            QVERIFY(lines.contains(QString(4096, 'n')));
            QVERIFY(!lines.contains(""));
        } else if (QByteArray(listing) == "long_line") {
            QCOMPARE(lines, (QStringList{"before", "after"}));
        } else {
            QCOMPARE(lines.size(), 200000);
            QCOMPARE(lines.last(), QString("entry-199999"));
        }
    }
}

void HostileTest::everyServedEntryIsShown_data() {
    QTest::addColumn<QString>("kind");
    QStringList kinds;
    for (const QList<QByteArray>& row : ReadDataRows("served_listings.tsv")) {
        if (!kinds.contains(row[0]))
            kinds << row[0];
    }
    for (const QString& kind : kinds)
        QTest::newRow(qPrintable(kind)) << kind;
}

void HostileTest::everyServedEntryIsShown() {
    QFETCH(QString, kind);
    const ServedListing served = ReadServedListing(kind);
    HostileServer server("normal", kind);
    WindowDriver window;
    QVERIFY(StartAndConnect(server, window));
    QCOMPARE(window.Lines(), served.shown["/"]);
    // The bare names are asked for only where some line could not be read.
    QCOMPARE(!server.Commands().filter(QRegularExpression("^NLST")).isEmpty(), served.asksNames);
    window.dlg.OnRefresh();
    QCOMPARE(Sorted(window.Lines()), Sorted(served.shown["/"]));

    for (const auto& [line, directory] : served.enters) {
        window.dlg.OnConnect();
        const qsizetype messages = window.prompter->messages.size();
        window.DoubleClickLine(line);
        QCOMPARE(ShownPath(window.dlg.ListedDirectory()), directory);
        QCOMPARE(window.Lines(), served.shown[directory]);
        QCOMPARE(window.prompter->messages.size(), messages);
    }
    for (const auto& [line, outcome] : served.downloads) {
        window.dlg.OnConnect();
        window.ClickLine(line);
        window.prompter->saveAnswers << m_target;
        window.dlg.OnDownload();
        QCOMPARE(window.prompter->messages.last(),
                 QString(outcome == "ok" ? "下载成功!" : "下载失败!"));
        QCOMPARE(QFile::exists(m_target), outcome == "ok");
        QFile::remove(m_target);
    }
    // A name holding a CR never reaches the server, so neither does what follows the CR.
    QVERIFY(server.Commands().filter("DELE").isEmpty());
}

void HostileTest::namesWithLineBreaksAreNeverSentBack() {
    HostileServer server("normal", "names");
    WindowDriver window;
    QVERIFY(StartAndConnect(server, window));
    // A CR inside a listed name is part of the name, shown, and never sent.
    const QString evil = QString("evil") + QChar(0x240D) + "DELE a.txt";
    QVERIFY(window.Lines().contains(evil));
    window.ClickLine(evil);
    window.prompter->saveAnswers << m_target;
    window.dlg.OnDownload();
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(m_target));

    // A name holding NUL cannot be sent back at all.
    const QString nul = QString("nul") + QChar(0) + "inside";
    QVERIFY(window.Lines().contains(nul));
    window.ClickLine(nul);
    window.prompter->saveAnswers << m_target;
    window.dlg.OnDownload();
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(m_target));
    QCOMPARE(server.Commands().filter("DELE").size(), 0);
    QCOMPARE(server.Commands().filter("RETR nul").size(), 0);

    // A name that cannot be a local file name is offered as one that can.
    window.ClickLine("/");
    window.dlg.OnDownload(); // the chooser is cancelled
    QCOMPARE(window.prompter->suggestedNames.last(), QString("_"));
    QCOMPARE(window.prompter->messages.last(), QString("请输入文件名!"));
}

void HostileTest::badUserInputGetsClearOutcome_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("reachesServer"); // a login is tried, and refused by the server
    QTest::newRow("CR in server") << "127.0.0.1\rx"
                                  << "tolmi"
                                  << "secret" << false;
    QTest::newRow("LF in user") << ""
                                << "tol\nmi"
                                << "secret" << false;
    QTest::newRow("NUL in password") << ""
                                     << "tolmi" << QString("sec") + QChar(0) + "ret" << false;
    QTest::newRow("100000-character server") << QString(100000, 'h') << "tolmi"
                                             << "secret" << false;
    QTest::newRow("100000-character password") << ""
                                               << "tolmi" << QString(100000, 'p') << true;
    QTest::newRow("spaces") << "   "
                            << "tolmi"
                            << "secret" << false;
    QTest::newRow("scheme") << "ftp://127.0.0.1"
                            << "tolmi"
                            << "secret" << false;
    QTest::newRow("port 0") << "127.0.0.1:0"
                            << "tolmi"
                            << "secret" << false;
    QTest::newRow("port 70000") << "127.0.0.1:70000"
                                << "tolmi"
                                << "secret" << false;
    QTest::newRow("unclosed bracket") << "[::1"
                                      << "tolmi"
                                      << "secret" << false;
    QTest::newRow("IPv6 literal, nothing there") << "::1"
                                                 << "tolmi"
                                                 << "secret" << false;
}

void HostileTest::badUserInputGetsClearOutcome() {
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, reachesServer);
    if (server.isEmpty())
        server = m_good->Address();
    const int logins = m_good->Logins();
    for (const QString& command : kCommands) {
        WindowDriver window;
        window.LogInTo(*m_good);
        window.Click(window.dlg.m_btnConnect);
        window.ClickLine(command == "enter" ? "[docs]" : "a.txt");
        window.Type(server, user, password);
        window.prompter->openAnswers << m_source;
        window.prompter->saveAnswers << m_target;
        if (command == "connect")
            window.dlg.OnConnect();
        else if (command == "refresh")
            window.dlg.OnRefresh();
        else if (command == "enter")
            window.dlg.OnFileListDblClk();
        else if (command == "upload")
            window.dlg.OnUpload();
        else
            window.dlg.OnDownload();
        QCOMPARE(window.prompter->messages.last(), LoginFailure(command));
        QVERIFY(!QFile::exists(m_target));
        QVERIFY(window.ConnectionReleased());
    }
    // Besides the five good Connects, a login was tried only where the text could be sent.
    QCOMPARE(m_good->Logins(), logins + (reachesServer ? 10 : 5));
}

void HostileTest::localFileProblemsGetClearOutcome() {
    WindowDriver window;
    window.LogInTo(*m_good);
    // The chosen file vanished before the transfer, or is a folder.
    for (const QString& path : {m_local->filePath("vanished.txt"), m_local->path()}) {
        window.prompter->openAnswers << path;
        window.dlg.OnUpload();
        QCOMPARE(window.prompter->messages.last(), QString("上传失败！"));
    }
    // A local path that cannot be written.
    window.Click(window.dlg.m_btnConnect);
    for (const QString& path :
         {QString("/proc/tolmi-cannot-write"), m_local->filePath("no/dir/x")}) {
        window.ClickLine("a.txt");
        window.prompter->saveAnswers << path;
        window.dlg.OnDownload();
        QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
        QVERIFY(!QFile::exists(path));
    }
}

void HostileTest::fullDiskLeavesNoPartialFile() {
    m_good->WriteFile("big.bin", QByteArray(4 * 1024 * 1024, 'b'));
    WindowDriver window;
    window.LogInTo(*m_good);
    window.Click(window.dlg.m_btnConnect);
    window.ClickLine("big.bin");
    window.prompter->saveAnswers << m_target;

    // A file size limit stands in for a full disk: writes past it fail.
    rlimit before{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 1024 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    window.dlg.OnDownload();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(m_target));
}

void HostileTest::unansweredQuitHoldsNothingUp() {
    HostileServer server("no_quit_reply", "good");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    WindowDriver window; // the real limits
    window.Type(server.Address(), "u", "p");
    QElapsedTimer timer;
    timer.start();
    window.dlg.OnConnect();
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString("took %1 ms").arg(timer.elapsed())));
    QCOMPARE(window.Lines().size(), 3);
    QVERIFY(server.Commands().contains("QUIT"));
    QVERIFY(window.ConnectionReleased());
}

void HostileTest::failedLibraryHandleFailsLikeALogin() {
    WindowDriver window;
    window.LogInTo(*m_good);
    g_callocFails = true;
    window.dlg.OnConnect();
    g_callocFails = false;
    QCOMPARE(window.prompter->messages.last(), QString("无法连接！"));
    QVERIFY(window.ConnectionReleased());
    window.dlg.OnConnect();
    QCOMPARE(window.prompter->messages.last(), "连接成功！" + m_good->Address());
}

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"
