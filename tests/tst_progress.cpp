// Long commands: the progress window, Cancel, a window that keeps painting, and uploads that
// never destroy the file they replace.
#include "tests/support/HostileServer.h"
#include "tests/support/LocalFiles.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"
#include "ui/ProgressDialog.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace {

constexpr int kThrottle = 200 * 1024; // bytes per second

struct Observed {
    bool shown = false;
    QStringList figures;
    QList<int> barValues;
    QElapsedTimer sinceCancel;
};

// Watches the next progress window: reads its figures, waits (bounded) until they move, then
// cancels. The throttled server sends in bursts, so a single wait may see no change.
void ObserveAndCancel(Observed& observed) {
    AnswerNextModal([&observed](QWidget* modal) {
        auto* progress = qobject_cast<ProgressDialog*>(modal);
        if (!progress)
            return;
        observed.shown = true;
        auto* bar = progress->findChild<QProgressBar*>();
        progress->Refresh();
        observed.figures << progress->Figures();
        observed.barValues << bar->value();
        QElapsedTimer waited;
        waited.start();
        // The amount done leads the figures; speed and time left follow it.
        auto amount = [](const QString& figures) { return figures.section("，", 0, 0); };
        do {
            QTest::qWait(200);
            progress->Refresh();
        } while (amount(progress->Figures()) == amount(observed.figures[0]) &&
                 waited.elapsed() < 8000);
        observed.figures << progress->Figures();
        observed.barValues << bar->value();
        observed.sinceCancel.start();
        progress->CancelButton()->click();
    });
}

// The bar moved while the window watched, and Cancel ended the command within a second.
void ExpectRiseThenQuickCancel(const Observed& observed) {
    QVERIFY(observed.shown);
    QVERIFY2(observed.sinceCancel.elapsed() < 1500, "Cancel took more than a second");
    QVERIFY2(observed.barValues[1] > observed.barValues[0],
             qPrintable(observed.figures.join(" | ")));
}

// Counts the events of one type that reach a widget.
class EventCounter : public QObject {
public:
    EventCounter(QObject* target, QEvent::Type type) : m_type(type) {
        target->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == m_type)
            ++count;
        return false;
    }

private:
    QEvent::Type m_type;
};

} // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void downloadShowsRisingFiguresAndCancels();
    void uploadShowsRisingFiguresAndCancelKeepsOldContent();
    void cancelDuringLogin();
    void cancelDuringListing();
    void windowKeepsPaintingDuringLongCommand();
    void quickCommandsShowNoProgressWindow();
    void uploadReplacesOnlyWhenComplete();
    void refusedRenameFallsBackToDirectStore();
    void closingTheWindowCancelsAndEnds_data();
    void closingTheWindowCancelsAndEnds();

private:
    void ExpectNextCommandWorks(WindowDriver& window);
    // Uploads "new content" over a remote "old" report.txt; gives the server's commands.
    void UploadOverExisting(const TestServerOptions& options, QStringList& commands);

    std::unique_ptr<TestServer> m_slow;
    std::unique_ptr<QTemporaryDir> m_local;
};

void ProgressTest::initTestCase() {
    TestServerOptions options;
    options.throttle = kThrottle;
    m_slow = std::make_unique<TestServer>(options);
    m_slow->WriteFile("big.bin", QByteArray(8 * kThrottle, 'b'));
    m_slow->WriteFile("keep.txt", "old content");
    for (int i = 0; i < 10000; ++i)
        m_slow->WriteFile(QStringLiteral("many/entry-with-a-longish-name-%1.txt").arg(i), "");
    QString error;
    QVERIFY2(m_slow->Start(error), qPrintable(error));
}

void ProgressTest::init() {
    m_local = std::make_unique<QTemporaryDir>();
}

void ProgressTest::ExpectNextCommandWorks(WindowDriver& window) {
    QVERIFY(window.ConnectionReleased());
    window.LogInTo(*m_slow);
    window.dlg.OnConnect();
    QCOMPARE(window.prompter->messages.last(), QString("连接成功！" + m_slow->Address()));
    QVERIFY(window.Lines().contains("big.bin"));
}

void ProgressTest::downloadShowsRisingFiguresAndCancels() {
    WindowDriver window;
    window.LogInTo(*m_slow);
    window.dlg.OnConnect();
    window.ClickLine("big.bin");
    const QString target = m_local->filePath("big.bin");
    window.prompter->saveAnswers << target;
    Observed observed;
    ObserveAndCancel(observed);
    window.dlg.OnDownload();

    ExpectRiseThenQuickCancel(observed);
    QVERIFY(observed.figures[1].contains("已完成"));
    QVERIFY(observed.figures[1].contains("剩余约"));
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(target));
    ExpectNextCommandWorks(window);
}

void ProgressTest::uploadShowsRisingFiguresAndCancelKeepsOldContent() {
    const QString source = m_local->filePath("keep.txt");
    WriteLocal(source, QByteArray(64 * kThrottle, 'n')); // more than the sockets buffer

    WindowDriver window;
    window.LogInTo(*m_slow);
    window.prompter->openAnswers << source;
    Observed observed;
    ObserveAndCancel(observed);
    window.dlg.OnUpload();

    ExpectRiseThenQuickCancel(observed);
    QCOMPARE(window.prompter->messages.last(), QString("上传失败！"));
    QCOMPARE(m_slow->ReadFile("keep.txt"), QByteArray("old content"));
    // The temporary file is gone again.
    QTRY_COMPARE(QDir(m_slow->Root()).entryList({".tolmi-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    ExpectNextCommandWorks(window);
}

void ProgressTest::cancelDuringLogin() {
    HostileServer silent("no_greeting", "good");
    QString error;
    QVERIFY2(silent.Start(error), qPrintable(error));
    for (const QString& command : QStringList{"connect", "refresh", "upload"}) {
        WindowDriver window; // the real timeouts: only Cancel ends this soon
        window.Type(silent.Address(), "u", "p");
        window.prompter->openAnswers << m_local->filePath("none");
        Observed observed;
        AnswerNextModal([&](QWidget* modal) {
            auto* progress = qobject_cast<ProgressDialog*>(modal);
            observed.shown = progress != nullptr;
            observed.sinceCancel.start();
            if (progress)
                progress->CancelButton()->click();
        });
        if (command == "connect")
            window.dlg.OnConnect();
        else if (command == "refresh")
            window.dlg.OnRefresh();
        else
            window.dlg.OnUpload();
        QVERIFY(observed.shown);
        QVERIFY2(observed.sinceCancel.elapsed() < 1500, qPrintable(command));
        const QString expected = command == "connect"   ? "无法连接！"
                                 : command == "refresh" ? "无法刷新！"
                                                        : "上传失败！";
        QCOMPARE(window.prompter->messages.last(), expected);
        ExpectNextCommandWorks(window);
    }
}

void ProgressTest::cancelDuringListing() {
    WindowDriver window;
    window.LogInTo(*m_slow);
    window.dlg.OnConnect();
    window.prompter->messages.clear();
    Observed observed;
    ObserveAndCancel(observed);
    window.DoubleClickLine("[many]");
    QVERIFY(observed.shown);
    QVERIFY(observed.figures[0].startsWith("已读取"));
    QVERIFY2(observed.figures[1] != observed.figures[0], qPrintable(observed.figures.join(" | ")));
    QVERIFY2(observed.sinceCancel.elapsed() < 1500, "Cancel took more than a second");
    QCOMPARE(window.prompter->messages, QStringList{"无法连接！"});
    QVERIFY(window.Lines().isEmpty());

    // Connect's success box still comes after the login and before the listing; a cancel
    // during the listing then fails the command.
    TestServerOptions options;
    options.throttle = kThrottle;
    TestServer crowded(options);
    for (int i = 0; i < 10000; ++i)
        crowded.WriteFile(QStringLiteral("entry-with-a-longish-name-%1.txt").arg(i), "");
    QString error;
    QVERIFY2(crowded.Start(error), qPrintable(error));
    WindowDriver connecting;
    connecting.Type(crowded.Address(), crowded.User(), crowded.Password());
    Observed listing;
    ObserveAndCancel(listing);
    connecting.dlg.OnConnect();
    QVERIFY(listing.shown);
    QCOMPARE(connecting.prompter->messages,
             (QStringList{"连接成功！" + crowded.Address(), "无法连接！"}));
    QVERIFY(connecting.Lines().isEmpty());
    QVERIFY(connecting.ConnectionReleased());
    ExpectNextCommandWorks(window);
}

void ProgressTest::windowKeepsPaintingDuringLongCommand() {
    WindowDriver window;
    window.LogInTo(*m_slow);
    window.dlg.OnConnect();
    window.ClickLine("big.bin");
    window.prompter->saveAnswers << m_local->filePath("painted.bin");
    EventCounter posted(&window.dlg, QEvent::User);
    EventCounter paints(window.dlg.m_listFiles->viewport(), QEvent::Paint);
    int postedDuringCommand = -1;
    int paintsDuringCommand = -1;
    AnswerNextModal([&](QWidget* modal) {
        auto* progress = qobject_cast<ProgressDialog*>(modal);
        QCoreApplication::postEvent(&window.dlg, new QEvent(QEvent::User));
        window.dlg.m_listFiles->viewport()->update();
        const int paintsBefore = paints.count;
        QTest::qWait(300);
        postedDuringCommand = posted.count;
        paintsDuringCommand = paints.count - paintsBefore;
        if (progress)
            progress->CancelButton()->click();
    });
    window.dlg.OnDownload();
    QCOMPARE(postedDuringCommand, 1);
    QVERIFY(paintsDuringCommand > 0);
}

void ProgressTest::quickCommandsShowNoProgressWindow() {
    TestServer fast;
    fast.WriteFile("a.txt", "a");
    QString error;
    QVERIFY2(fast.Start(error), qPrintable(error));
    WindowDriver window;
    window.Type(fast.Address(), fast.User(), fast.Password());
    bool progressShown = false;
    AnswerNextModal([&](QWidget* modal) { progressShown = qobject_cast<ProgressDialog*>(modal); },
                    1000);
    window.dlg.OnConnect();
    window.dlg.OnRefresh();
    // The watch gives up before this test ends, so it never outlives what it writes to.
    QTest::qWait(1300);
    QVERIFY(!progressShown);
    QCOMPARE(window.Lines(), QStringList{"a.txt"});
}

void ProgressTest::UploadOverExisting(const TestServerOptions& options, QStringList& commands) {
    TestServer server(options);
    server.WriteFile("report.txt", "old");
    QString error;
    if (!server.Start(error))
        qFatal("%s", qPrintable(error));
    const QString source = m_local->filePath("report.txt");
    WriteLocal(source, "new content");
    WindowDriver window;
    window.Type(server.Address(), server.User(), server.Password());
    window.prompter->openAnswers << source;
    window.dlg.OnUpload();
    QCOMPARE(window.prompter->messages.last(), QString("上传成功！"));
    QCOMPARE(server.ReadFile("report.txt"), QByteArray("new content"));
    // No temporary copy is left behind.
    QCOMPARE(QDir(server.Root()).entryList(QDir::Files | QDir::Hidden), QStringList{"report.txt"});
    commands = server.Commands();
}

void ProgressTest::uploadReplacesOnlyWhenComplete() {
    QStringList commands;
    UploadOverExisting({}, commands);
    QCOMPARE(commands.filter(QRegularExpression("^STOR \\.tolmi-")).size(), 1);
    QVERIFY(commands.contains("RNTO report.txt"));
    QVERIFY(!commands.contains("STOR report.txt"));
}

void ProgressTest::refusedRenameFallsBackToDirectStore() {
    TestServerOptions options;
    options.refuseRename = true;
    QStringList commands;
    UploadOverExisting(options, commands);
    QVERIFY(commands.contains("STOR report.txt"));
}

void ProgressTest::closingTheWindowCancelsAndEnds_data() {
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("closing");
    for (const char* phase : {"login", "listing", "download"}) {
        for (const char* closing : {"close", "Escape", "close under progress"})
            QTest::addRow("%s, %s", phase, closing) << phase << closing;
    }
}

void ProgressTest::closingTheWindowCancelsAndEnds() {
    QFETCH(QString, phase);
    QFETCH(QString, closing);
    HostileServer silent("no_greeting", "good");
    QString error;
    QVERIFY2(silent.Start(error), qPrintable(error));
    WindowDriver window;
    window.LogInTo(*m_slow);
    window.Click(window.dlg.m_btnConnect);
    const QString target = m_local->filePath("big.bin");
    window.prompter->saveAnswers << target;
    window.ClickLine("big.bin");
    if (phase == "login")
        window.Type(silent.Address(), "u", "p");
    const int shown = window.prompter->messages.size();

    QElapsedTimer sinceClosing;
    auto close = [&] {
        sinceClosing.start();
        if (closing == "Escape")
            QTest::keyClick(&window.dlg, Qt::Key_Escape);
        else
            window.dlg.close(); // as the close box does, and the desktop at logout
    };
    if (closing.endsWith("progress"))
        AnswerNextModal([&](QWidget*) { close(); });
    else
        QTimer::singleShot(200, &window.dlg, close);
    if (phase == "listing")
        window.DoubleClickLine("[many]");
    else
        window.Click(phase == "login" ? window.dlg.m_btnConnect : window.dlg.m_btnDownload);

    QVERIFY(sinceClosing.isValid());
    QVERIFY2(sinceClosing.elapsed() < 2500, qPrintable(QString::number(sinceClosing.elapsed())));
    QVERIFY(!window.dlg.isVisible());
    QCOMPARE(window.dlg.result(), int(QDialog::Rejected));
    QCOMPARE(window.prompter->messages.size(), shown); // nothing more to read
    QVERIFY(!QFile::exists(target));
    QVERIFY(window.ConnectionReleased());
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
