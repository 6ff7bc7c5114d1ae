// The main window as a user meets it: texts, keys, control states, messages, the progress
// window and the certificate and SSH key questions, all real Qt windows answered with keys and
// clicks.
#include "app/CtolmiApp.h"
#include "support/HostileServer.h"
#include "support/Modals.h"
#include "support/SshServer.h"
#include "support/TestCertificates.h"
#include "support/TestServer.h"
#include "ui/CtolmiDlg.h"
#include "ui/DialogTemplate.h"
#include "ui/ProgressDialog.h"
#include "ui/Resource.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr ResourceId kFields[] = {IDC_SERVER, IDC_USER, IDC_PASSWORD};

// What a label shows: its text's extent, not the rectangle the template gives it.
QRect VisibleRect(QWidget* control) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label == nullptr)
        return control->geometry();
    return QRect(label->pos(), label->sizeHint()).intersected(label->geometry());
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// The real window, shown and active, its modal windows answered by `modals`.
struct Window {
    Window() {
        dlg.show();
        dlg.activateWindow();
        if (!QTest::qWaitForWindowActive(&dlg))
            qWarning("the main window did not become active");
    }
    template <typename Control = QWidget> Control* Find(ResourceId id) const {
        return dlg.findChild<Control*>(QString::number(id));
    }
    QWidget* operator()(ResourceId id) const { return Find(id); }
    void Type(const QStringList& texts) {
        for (int i = 0; i < 3; ++i) {
            Find<QLineEdit>(kFields[i])->clear();
            QTest::keyClicks((*this)(kFields[i]), texts[i]);
        }
    }
    void LogIn(const TestServer& server) {
        Type({server.Address(), server.User(), server.Password()});
    }
    void Click(ResourceId id) { QTest::mouseClick((*this)(id), Qt::LeftButton); }
    // Clicks the line with this text (twice: a double-click) as a mouse does.
    void ClickLine(const QString& text, bool twice = false) {
        auto* list = Find<QListWidget>(IDC_FILE_LIST);
        const auto found = list->findItems(text, Qt::MatchExactly);
        QVERIFY2(!found.isEmpty(), qPrintable("no line " + text + " in " + Lines().join('|')));
        list->scrollToItem(found.first());
        const QPoint center = list->visualItemRect(found.first()).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, center);
        if (twice)
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, center);
    }
    QStringList Lines() const {
        QStringList lines;
        for (auto* item : Find<QListWidget>(IDC_FILE_LIST)->findItems("*", Qt::MatchWildcard))
            lines << item->text();
        return lines;
    }
    // Which of the login fields and commands take input, as "fields connect ... download".
    QString Enabled() const {
        QStringList enabled;
        if ((*this)(IDC_SERVER)->isEnabled() && (*this)(IDC_USER)->isEnabled() &&
            (*this)(IDC_PASSWORD)->isEnabled())
            enabled << "fields";
        for (auto [id, name] : {std::pair{IDOK, "connect"}, {IDC_DOWNLOAD, "download"}})
            if ((*this)(id)->isEnabled())
                enabled << name;
        return enabled.join(' ');
    }

    Modals modals;
    CtolmiDlg dlg;
};

// Starts `server` with a.txt and the directory docs, and lists it in the window.
bool ConnectTo(TestServer& server, Window& window) {
    QString error;
    if (!server.Start(error))
        qWarning("%s", qPrintable(error));
    server.WriteFile("a.txt", "a");
    server.MakeDirectory("docs");
    window.LogIn(server);
    window.Click(IDOK);
    return error.isEmpty();
}

// Counts the paint events a widget gets.
struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placesControlsAtTemplateRectangles();
    void controlsStayPutWhenResized();
    void screenReadersFindNamesRolesAndLabels_data();
    void screenReadersFindNamesRolesAndLabels();
    void progressFiguresAreReadableAsText();
    void opensWithItsTextsAndTabOrder();
    void keysRunTheCommandTheyName_data();
    void keysRunTheCommandTheyName();
    void eachResultHasItsMessage_data();
    void eachResultHasItsMessage();
    void aSessionOnTheServer();
    void selectionLocksTheLogin();
    void enterAfterDownloadStaysInTheWindow_data();
    void enterAfterDownloadStaysInTheWindow();
    void cancelAndCloseEndEachPhase_data();
    void cancelAndCloseEndEachPhase();
    void certificateQuestion_data();
    void certificateQuestion();
    void hostKeyQuestion_data();
    void hostKeyQuestion();
    void startUpWritesNoSettings();
    void programIgnoresItsArguments();
    void startsWithAnEmptyArgumentVector();

private:
    QTemporaryDir m_local;
    TestCertificates m_certificates;
};

void WindowTest::initTestCase() {
    // File dialogs open in the working directory.
    QDir::setCurrent(m_local.path());
    QString error;
    QVERIFY2(m_certificates.Generate(error), qPrintable(error));
}

void WindowTest::placesControlsAtTemplateRectangles() {
    Window window;
    CtolmiDlg& dlg = window.dlg;
    const DialogUnits units(dlg.font());
    QCOMPARE(dlg.size(), QSize(units.ToPixelsX(213), units.ToPixelsY(199)));
    auto* list = window(IDC_FILE_LIST);
    QCOMPARE(list->geometry(), units.ToPixels({15, 56, 126, 111}));
    QCOMPARE(window(IDC_SERVER)->geometry(), units.ToPixels({47, 15, 154, 12}));
    QCOMPARE(window(IDC_PASSWORD)->geometry(), units.ToPixels({129, 30, 72, 12}));
    // The buttons stand in one column: Connect, Refresh, Upload, Download, Exit.
    QList<QWidget*> column;
    for (ResourceId id : {IDOK, IDC_REFRESH, IDC_UPLOAD, IDC_DOWNLOAD, IDC_EXIT})
        column << window(id);
    for (int i = 1; i < column.size(); ++i) {
        QCOMPARE(column[i]->x(), column[0]->x());
        QVERIFY(column[i]->y() > column[i - 1]->geometry().bottom());
    }
    QVERIFY(list->geometry().right() < column[0]->x());
    // Nothing leaves the window, no label is cut off, nothing covers anything else.
    const QList<QWidget*> children = dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(child->objectName()));
        QVERIFY2(!child->inherits("QLabel") || VisibleRect(child).size() == child->sizeHint(),
                 qPrintable(child->property("text").toString()));
        for (QWidget* other : children)
            QVERIFY2(other == child || !VisibleRect(child).intersects(VisibleRect(other)),
                     qPrintable(child->property("text").toString()));
    }
    // The list keeps the server's order and one selection; it never scrolls sideways.
    auto* files = window.Find<QListWidget>(IDC_FILE_LIST);
    QVERIFY(!files->isSortingEnabled());
    QCOMPARE(files->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(files->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!dlg.windowIcon().isNull());
    // Under a scale factor the window is drawn with as many more pixels.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    QCOMPARE(dlg.devicePixelRatio(), scale);
    QCOMPARE(dlg.grab().size(), (QSizeF(dlg.size()) * scale).toSize());
}

void WindowTest::controlsStayPutWhenResized() {
    Window window;
    QWidget* exit = window(IDC_EXIT);
    const QRect before = exit->geometry();
    window.dlg.resize(window.dlg.size() * 2);
    QCOMPARE(exit->geometry(), before);
    window.dlg.resize(window.dlg.size() / 3);
    QCOMPARE(exit->geometry(), before);
}

void WindowTest::screenReadersFindNamesRolesAndLabels_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::newRow("server") << int(IDC_SERVER) << "服务名" << int(QAccessible::EditableText);
    QTest::newRow("user") << int(IDC_USER) << "登录名" << int(QAccessible::EditableText);
    QTest::newRow("password") << int(IDC_PASSWORD) << "密码" << int(QAccessible::EditableText);
    QTest::newRow("list") << int(IDC_FILE_LIST) << "文件目录列表" << int(QAccessible::List);
    QTest::newRow("connect") << int(IDOK) << "连接" << int(QAccessible::Button);
    QTest::newRow("refresh") << int(IDC_REFRESH) << "刷新" << int(QAccessible::Button);
    QTest::newRow("upload") << int(IDC_UPLOAD) << "上传" << int(QAccessible::Button);
    QTest::newRow("download") << int(IDC_DOWNLOAD) << "下载" << int(QAccessible::Button);
    QTest::newRow("exit") << int(IDC_EXIT) << "退出" << int(QAccessible::Button);
}

void WindowTest::screenReadersFindNamesRolesAndLabels() {
    QFETCH(int, id);
    QFETCH(QString, name);
    QFETCH(int, role);
    Window window;
    QWidget* control = window(ResourceId(id));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(int(accessible->role()), role);
    // The label relation, both ways: the control's label, and what that label labels. Qt's
    // list has no relations of its own; its label still names what it labels.
    QStringList labels;
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label)) {
        labels << label->text(QAccessible::Name);
        QCOMPARE(label->relations(QAccessible::Labelled).value(0).first->object(), control);
    }
    QCOMPARE(labels, role == QAccessible::EditableText ? QStringList{name} : QStringList{});
}

void WindowTest::progressFiguresAreReadableAsText() {
    TransferMonitor monitor;
    monitor.SetBytes(3 << 20, 8 << 20);
    monitor.SetSsh();
    ProgressDialog progress(nullptr, monitor, ProgressActivity::Downloading, "a.bin");
    progress.show();
    QVERIFY(!progress.Figures().isEmpty());
    QCOMPARE(progress.Encryption(), "已加密（SSH）");
    // What a screen reader reads out for the window's text children.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&progress);
    QStringList texts;
    for (int i = 0; i < window->childCount(); ++i)
        if (window->child(i)->role() == QAccessible::StaticText)
            texts << window->child(i)->text(QAccessible::Name);
    QVERIFY2(texts.contains(progress.Figures()), qPrintable(texts.join('|')));
}

void WindowTest::opensWithItsTextsAndTabOrder() {
    Window window;
    QCOMPARE(window.dlg.windowTitle(), "Vardelo1.0         Pemrik工作室");
    QStringList texts;
    for (auto* control : window.dlg.findChildren<QWidget*>())
        texts << control->property("text").toString();
    texts.removeAll(QString());
    texts.sort();
    QStringList expected{"服务名",
                         "登录名",
                         "密码",
                         "文件目录列表",
                         "Made by Pemrik工作室制作",
                         "www.pemrik.example",
                         "连接",
                         "刷新",
                         "上传",
                         "下载",
                         "退出"};
    expected.sort();
    QCOMPARE(texts, expected);
    QCOMPARE(window.Enabled(), "fields connect");
    QVERIFY(window(IDC_REFRESH)->isEnabled() && window(IDC_UPLOAD)->isEnabled() &&
            window(IDC_EXIT)->isEnabled());
    QCOMPARE(window.Find<QLineEdit>(IDC_PASSWORD)->echoMode(), QLineEdit::Normal);
    // Tab goes round the controls, past Download while it is disabled.
    QStringList order;
    for (int i = 0; i < 8; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Tab);
    }
    const auto id = [](ResourceId id) { return QString::number(id); };
    QCOMPARE(order, QStringList({id(IDC_SERVER), id(IDC_USER), id(IDC_PASSWORD), id(IDC_FILE_LIST),
                                 id(IDOK), id(IDC_UPLOAD), id(IDC_EXIT), id(IDC_REFRESH)}));
    QCOMPARE(QApplication::focusWidget(), window(IDC_SERVER));
}

void WindowTest::keysRunTheCommandTheyName_data() {
    QTest::addColumn<int>("focus"); // 0: the close box
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("result"); // -1: the window stays
    // An empty server field fails at once: each Enter is one Connect and one message.
    const QStringList failed{"无法连接！"};
    QTest::newRow("Enter in a field") << int(IDC_SERVER) << int(Qt::Key_Return) << failed << -1;
    QTest::newRow("keypad Enter") << int(IDC_PASSWORD) << int(Qt::Key_Enter) << failed << -1;
    QTest::newRow("Enter in the list") << int(IDC_FILE_LIST) << int(Qt::Key_Return) << failed << -1;
    QTest::newRow("Enter on Refresh")
        << int(IDC_REFRESH) << int(Qt::Key_Return) << QStringList{"无法刷新！"} << -1;
    QTest::newRow("Escape") << int(IDC_SERVER) << int(Qt::Key_Escape) << QStringList()
                            << int(QDialog::Rejected);
    QTest::newRow("close box") << 0 << 0 << QStringList() << int(QDialog::Rejected);
    QTest::newRow("Exit") << int(IDC_EXIT) << int(Qt::Key_Space) << QStringList()
                          << int(QDialog::Accepted);
}

void WindowTest::keysRunTheCommandTheyName() {
    QFETCH(int, focus);
    QFETCH(int, key);
    QFETCH(int, result);
    Window window;
    if (focus == 0) {
        window.dlg.close();
    } else {
        window(ResourceId(focus))->setFocus();
        QTest::keyClick(window.dlg.windowHandle(), Qt::Key(key));
    }
    QTEST(window.modals.texts, "messages");
    QCOMPARE(window.dlg.isVisible() ? -1 : window.dlg.result(), result);
    // Message boxes are titled with the program's name.
    for (const QString& title : window.modals.titles)
        QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

void WindowTest::eachResultHasItsMessage_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("before");  // what happens before the command
    QTest::addColumn<QString>("message"); // %1: the server field
    QTest::newRow("Connect") << "connect"
                             << "secret"
                             << ""
                             << "连接成功！%1";
    QTest::newRow("Connect refused") << "connect"
                                     << "wrong"
                                     << ""
                                     << "无法连接！";
    QTest::newRow("Refresh") << "refresh"
                             << "secret"
                             << ""
                             << "刷新成功！";
    QTest::newRow("Refresh refused") << "refresh"
                                     << "wrong"
                                     << ""
                                     << "无法刷新！";
    QTest::newRow("Upload") << "upload"
                            << "secret"
                            << ""
                            << "上传成功！";
    QTest::newRow("Upload refused") << "upload"
                                    << "wrong"
                                    << ""
                                    << "上传失败！";
    QTest::newRow("Upload, no file") << "upload"
                                     << "secret"
                                     << "no file"
                                     << "请选择文件！";
    QTest::newRow("Download") << "download"
                              << "secret"
                              << ""
                              << "下载成功!";
    QTest::newRow("Download, file gone") << "download"
                                         << "secret"
                                         << "gone"
                                         << "下载失败!";
    QTest::newRow("Download, no name") << "download"
                                       << "secret"
                                       << "no file"
                                       << "请输入文件名!";
    QTest::newRow("Download, directory") << "download"
                                         << "secret"
                                         << "directory"
                                         << "不能下载目录，请重新选择!";
    QTest::newRow("Download, no line") << "download"
                                       << "secret"
                                       << "no line"
                                       << "请选择要下载的文件!";
    QTest::newRow("Entering, gone") << "enter"
                                    << "secret"
                                    << "gone"
                                    << "无法打开目录！";
}

void WindowTest::eachResultHasItsMessage() {
    QFETCH(QString, command);
    QFETCH(QString, password);
    QFETCH(QString, before);
    TestServer server;
    Window window;
    QVERIFY(ConnectTo(server, window));
    window.modals.texts.clear();
    window(IDC_PASSWORD)->setProperty("text", password);
    if (before == "gone")
        QVERIFY(QFile::remove(server.Root() + "/a.txt") && QDir(server.Root()).rmdir("docs"));
    if (command == "download")
        window.ClickLine(before == "directory" ? "[docs]" : "a.txt");
    // Listing again leaves Download enabled with no line selected.
    if (before == "no line")
        window.Click(IDOK), window.modals.texts.clear();
    const QString local = m_local.filePath(QTest::currentDataTag());
    QFile(local).open(QIODevice::WriteOnly);
    if (command == "download")
        QFile::remove(local);
    window.modals.fileName = before == "no file" ? QString() : local;
    if (command == "enter")
        window.ClickLine("[docs]", true);
    else
        window.Click(command == "connect"   ? IDOK
                     : command == "refresh" ? IDC_REFRESH
                     : command == "upload"  ? IDC_UPLOAD
                                            : IDC_DOWNLOAD);
    QFETCH(QString, message);
    QCOMPARE(window.modals.texts, QStringList{message.replace("%1", server.Address())});
}

void WindowTest::aSessionOnTheServer() {
    TestServer server({TestServer::KindFromEnvironment()});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    for (const char* name :
         {"a.txt", "with space.txt", "中文.txt", "[x].txt", "docs/a.txt", "docs/sub/deep.txt"})
        server.WriteFile(name, name);
    for (const char* name : {"empty", "目录"})
        server.MakeDirectory(name);
    Window window;
    window.LogIn(server);
    // Connect lists directories first; Refresh shows the same lines in the server's order.
    window.Click(IDOK);
    const QStringList grouped = window.Lines();
    window.Click(IDC_REFRESH);
    QStringList inOrder = window.Lines();
    QStringList names = inOrder;
    names.sort();
    const bool dots = server.Kind() == ServerKind::Proftpd;
    QCOMPARE(names, QStringList({"[..]", "[.]", "[docs]", "[empty]", "[x].txt", "[目录]", "a.txt",
                                 "with space.txt", "中文.txt"})
                        .mid(dots ? 0 : 2));
    inOrder.removeAll("[.]");
    const auto isDirectory = [](const QString& line) {
        return line.startsWith('[') && line.endsWith(']');
    };
    std::stable_partition(inOrder.begin(), inOrder.end(), isDirectory);
    QCOMPARE(grouped, inOrder);
    QCOMPARE(window.modals.texts, QStringList({"连接成功！" + server.Address(), "刷新成功！"}));
    QVERIFY(!window.modals.progressShown);
    // Entering goes into the listed directory, with no message.
    window.ClickLine("[docs]", true);
    window.ClickLine("[sub]", true);
    QCOMPARE(window.Lines(),
             QStringList(dots ? QStringList{"[..]", "deep.txt"} : QStringList{"deep.txt"}));
    QCOMPARE(window.modals.texts.size(), 2);
    // Transfers happen there too.
    window.ClickLine("deep.txt");
    window.modals.fileName = m_local.filePath("deep");
    window.Click(IDC_DOWNLOAD);
    QCOMPARE(window.modals.offeredNames, QStringList{"deep.txt"});
    QCOMPARE(ReadFile(window.modals.fileName), "docs/sub/deep.txt");
    window.modals.fileName = m_local.filePath("上传 [1].txt");
    QFile(window.modals.fileName).open(QIODevice::WriteOnly);
    window.Click(IDC_UPLOAD);
    QCOMPARE(window.modals.texts.mid(2), QStringList({"下载成功!", "上传成功！"}));
    QVERIFY(QFile::exists(server.Root() + "/docs/sub/上传 [1].txt"));
    if (dots) {
        window.ClickLine("[..]", true);
        QVERIFY(window.Lines().contains("[sub]"));
    }
    QVERIFY(!window.dlg.HoldsConnection());
}

void WindowTest::selectionLocksTheLogin() {
    TestServer server;
    Window window;
    QVERIFY(ConnectTo(server, window));
    QCOMPARE(window.Enabled(), "fields connect");
    // The arrow keys select as the mouse does.
    window(IDC_FILE_LIST)->setFocus();
    QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Down);
    QCOMPARE(window.Enabled(), "connect download");
    // Listing again keeps the states, though no line is selected.
    window.Click(IDOK);
    QCOMPARE(window.Enabled(), "connect download");
    QVERIFY(window.Find<QListWidget>(IDC_FILE_LIST)->selectedItems().isEmpty());
    window.Click(IDC_DOWNLOAD);
    QCOMPARE(window.Enabled(), "fields connect");
    // After a download, clicking the still selected line enables Download again.
    window.ClickLine("a.txt");
    window.modals.fileName = m_local.filePath("selected");
    window.Click(IDC_DOWNLOAD);
    QCOMPARE(window.Enabled(), "fields connect");
    window.ClickLine("a.txt");
    QCOMPARE(window.Enabled(), "connect download");
    QCOMPARE(window.modals.texts.mid(2), QStringList({"请选择要下载的文件!", "下载成功!"}));
}

void WindowTest::enterAfterDownloadStaysInTheWindow_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("result");
    QTest::newRow("saved") << true << "下载成功!";
    QTest::newRow("save cancelled") << false << "请输入文件名!";
}

void WindowTest::enterAfterDownloadStaysInTheWindow() {
    QFETCH(bool, save);
    TestServer server;
    Window window;
    QVERIFY(ConnectTo(server, window));
    window.ClickLine("a.txt");
    window.modals.fileName = save ? m_local.filePath(QTest::currentDataTag()) : QString();
    window.Click(IDC_DOWNLOAD);
    QTEST(window.modals.texts.value(1), "result");
    // Enter after the box lists again, like any Enter in the window.
    QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Return);
    QVERIFY(window.dlg.isVisible());
    QCOMPARE(window.modals.texts.value(2), window.modals.texts.value(0));
}

void WindowTest::cancelAndCloseEndEachPhase_data() {
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("message"); // after a cancel
    for (const char* action : {"cancel", "escape", "close"}) {
        for (auto [phase, message] : {std::pair{"login", "无法连接！"},
                                      {"listing", "无法连接！"},
                                      {"download", "下载失败!"},
                                      {"upload", "上传失败！"}})
            QTest::addRow("%s, %s", phase, action) << phase << action << message;
    }
}

void WindowTest::cancelAndCloseEndEachPhase() {
    QFETCH(QString, phase);
    QFETCH(QString, action);
    TestServerOptions options;
    options.throttle = 204800;
    TestServer server(options);
    HostileServer silent("no_greeting", "good");
    QString error;
    QVERIFY2(server.Start(error) && silent.Start(error), qPrintable(error));
    server.WriteFile("big.bin", QByteArray(1 << 21, 'b'));
    server.WriteFile("keep.bin", "old");
    for (int i = 0; phase == "listing" && i < 10000; ++i)
        server.WriteFile(QString("many/entry-with-a-longish-name-%1").arg(i), {});
    // An upload replaces keep.bin; more than the sockets buffer, so it is still running.
    QDir(m_local.path()).mkpath(phase + action);
    const QString local = m_local.filePath(phase + action + "/keep.bin");
    QFile upload(local);
    QVERIFY(phase != "upload" || (upload.open(QIODevice::WriteOnly) && upload.resize(13 << 20)));
    Window window;
    window.LogIn(server);
    window.Click(IDOK);
    window.modals.texts.clear();
    // The window still paints while the command runs; then the user acts.
    QElapsedTimer sinceAction;
    int paints = 0;
    window.modals.onProgress = [&](ProgressDialog& progress) {
        PaintCounter counter(window(IDC_FILE_LIST));
        window(IDC_FILE_LIST)->update();
        QTest::qWait(300);
        paints = counter.paints;
        sinceAction.start();
        if (action == "cancel")
            QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
        else if (action == "escape")
            QTest::keyClick(progress.windowHandle(), Qt::Key_Escape);
        else
            window.dlg.close(); // as the close box does, and the desktop at logout
    };
    window.modals.fileName = local;
    if (phase == "login")
        window.Type({silent.Address(), "u", "p"});
    if (phase == "download")
        window.ClickLine("big.bin");
    if (phase == "listing")
        window.ClickLine("[many]", true);
    else
        window.Click(phase == "download" ? IDC_DOWNLOAD : phase == "upload" ? IDC_UPLOAD : IDOK);
    QVERIFY(sinceAction.isValid());
    QVERIFY2(sinceAction.elapsed() < 1500, qPrintable(QString::number(sinceAction.elapsed())));
    QVERIFY(paints > 0);
    const bool closed = action == "close";
    QFETCH(QString, message);
    QCOMPARE(window.modals.texts, closed ? QStringList() : QStringList{message});
    QCOMPARE(window.dlg.isVisible(), !closed);
    QCOMPARE(QFile::exists(local), phase == "upload");
    QCOMPARE(ReadFile(server.Root() + "/keep.bin"), "old");
    if (phase == "listing" && !closed)
        QCOMPARE(window.Lines(), QStringList());
    QVERIFY(!window.dlg.HoldsConnection());
}

void WindowTest::certificateQuestion_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("Enter") << QList<int>{Qt::Key_Return} << false;
    QTest::newRow("Escape") << QList<int>{Qt::Key_Escape} << false;
    QTest::newRow("trust") << QList<int>{Qt::Key_Backtab, Qt::Key_Space} << true;
}

void WindowTest::certificateQuestion() {
    QFETCH(QList<int>, keys);
    QFETCH(bool, trusted);
    TestServerOptions options;
    options.tls = TlsOffer::Explicit;
    options.certificate = m_certificates.SelfSigned(0);
    auto server = std::make_unique<TestServer>(options);
    QString error;
    QVERIFY2(server->Start(error), qPrintable(error));
    const QString address = server->Address();
    Window window;
    window.LogIn(*server);
    window.modals.boxKeys = keys;
    window.Click(IDOK);
    const QString question = window.modals.texts.value(0);
    for (const QString& part : {address, QString("证书是自签名的"),
                                m_certificates.Sha256Fingerprint(options.certificate)})
        QVERIFY2(question.contains(part), qPrintable(question));
    QCOMPARE(window.modals.texts.mid(1),
             QStringList{trusted ? "连接成功！" + address : "无法连接！"});
    QCOMPARE(server->Commands().filter("USER").size(), trusted ? 1 : 0);
    if (!trusted)
        return;
    // The same server with another certificate is refused without a question.
    options.port = address.section(':', 1).toUShort();
    options.certificate = m_certificates.SelfSigned(1);
    server = std::make_unique<TestServer>(options);
    QVERIFY2(server->Start(error), qPrintable(error));
    window.modals.texts.clear();
    window.Click(IDOK);
    const QString changed = "服务器 %1 的证书与本次运行中早先信任的证书不同，连接已中止！";
    QCOMPARE(window.modals.texts, QStringList({changed.arg(address), "无法连接！"}));
}

void WindowTest::hostKeyQuestion_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("otherKnown"); // known_hosts names another key
    QTest::newRow("Enter") << QList<int>{Qt::Key_Return} << false;
    QTest::newRow("Escape") << QList<int>{Qt::Key_Escape} << false;
    QTest::newRow("trust") << QList<int>{Qt::Key_Backtab, Qt::Key_Space} << false;
    QTest::newRow("changed key") << QList<int>{Qt::Key_Return} << true;
}

void WindowTest::hostKeyQuestion() {
    QFETCH(QList<int>, keys);
    QFETCH(bool, otherKnown);
    SshServer server;
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    QTemporaryDir home;
    const QByteArray userHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const QByteArray other =
        QByteArray("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + QByteArray(32, 'k');
    if (otherKnown && QDir(home.path()).mkdir(".ssh")) {
        QFile hosts(home.filePath(".ssh/known_hosts"));
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write("[127.0.0.1]:" + server.Address().section(':', 2).toUtf8() + " ssh-ed25519 " +
                    other.toBase64());
    }
    Window window;
    window.Type({server.Address(), server.User(), "pw"});
    window.modals.boxKeys = keys;
    window.Click(IDOK);
    qputenv("HOME", userHome);
    const bool trusted = keys.size() == 2;
    const QString asked =
        "服务器 " + server.Address() +
        " 的 SSH 主机密钥不在已知主机列表中。\n\n密钥类型：ssh-ed25519\n指纹：" +
        Run("ssh-keygen", {"-lf", server.HostKey(), "-E", "sha256"}).split(' ')[1] +
        "\n\n是否仅在本次运行中信任此密钥？";
    const QString warned = "服务器 " + server.Address() +
                           " 的 SSH 主机密钥与已知或本次运行中早先信任的密钥"
                           "不同，连接已中止！";
    QCOMPARE(window.modals.texts,
             QStringList({otherKnown ? warned : asked,
                          trusted ? "连接成功！" + server.Address() : "无法连接！"}));
    QCOMPARE(server.Log().contains("Accepted password"), trusted);
}

void WindowTest::startUpWritesNoSettings() {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QString okText;
    QTimer::singleShot(200, [&okText] {
        QVERIFY(theApp.m_pMainWnd != nullptr);
        // Qt's own texts are in the window's language too.
        okText = QCoreApplication::translate("QPlatformTheme", "OK");
        QTest::keyClick(theApp.m_pMainWnd, Qt::Key_Escape);
    });
    QCOMPARE(theApp.InitInstance(), false);
    QCOMPARE(theApp.m_pMainWnd, nullptr);
    QCOMPARE(okText, QString("确定"));
    QCOMPARE(QCoreApplication::organizationName(), QString("应用程序向导生成的本地应用程序"));
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void WindowTest::programIgnoresItsArguments() {
    // Were Qt to read these, "-platform" would make the program fail at once.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(TOLMI_BINARY, {"-platform", "no-such-platform", "--help", "-style", "none", "x"});
    QVERIFY(program.waitForStarted());
    QVERIFY2(!program.waitForFinished(1500), program.readAllStandardError().constData());
    program.kill();
    program.waitForFinished();
}

void WindowTest::startsWithAnEmptyArgumentVector() {
    char* none[] = {nullptr};
    QCOMPARE(CtolmiApp::ProgramName(0, none), "tolmi");
    char named[] = "/opt/x/ftp-client";
    char* given[] = {named, nullptr};
    QCOMPARE(CtolmiApp::ProgramName(1, given), named);

    // The real program, started with argc 0, comes up and stays up.
    pid_t pid = 0;
    QCOMPARE(posix_spawn(&pid, TOLMI_BINARY, nullptr, nullptr, none, environ), 0);
    QTest::qWait(1500);
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    QVERIFY2(ended == 0, qPrintable(QString("ended with status %1").arg(status)));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
