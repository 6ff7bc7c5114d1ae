// The main window's layout, its accessibility, its message boxes, and start-up; what it
// shows and its keys are in tests/scenarios/window.txt.
#include "app/CtolmiApp.h"
#include "support/ModalAnswerer.h"
#include "support/TestServer.h"
#include "support/WindowDriver.h"
#include "ui/CtolmiDlg.h"
#include "ui/DialogTemplate.h"
#include "ui/ProgressDialog.h"
#include "ui/QtPrompter.h"
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

// What a label shows: its text's extent, not the rectangle the template gives it.
QRect VisibleRect(QWidget* control) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label == nullptr)
        return control->geometry();
    return QRect(label->pos(), label->sizeHint()).intersected(label->geometry());
}

// Answers the next `count` modal windows with the keys a user presses: Enter on a message box
// (its text goes to `texts`); on a file dialog Enter, taking the name it offers, or Escape.
void AnswerWithKeys(int count, QStringList& texts, bool takeFile) {
    if (count == 0)
        return;
    AnswerNextModal([count, &texts, takeFile](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box)
            texts << box->text();
        QTest::keyClick(modal->windowHandle(), box || takeFile ? Qt::Key_Return : Qt::Key_Escape);
        AnswerWithKeys(count - 1, texts, takeFile);
    });
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void placesControlsAtTemplateRectangles();
    void controlsStayPutWhenResized();
    void screenReadersFindNamesRolesAndLabels_data();
    void screenReadersFindNamesRolesAndLabels();
    void progressFiguresAreReadableAsText();
    void messageBoxesAreTitledWithTheProgramName();
    void enterAfterDownloadStaysInTheWindow_data();
    void enterAfterDownloadStaysInTheWindow();
    void startUpWritesNoSettings();
    void programIgnoresItsArguments();
    void startsWithAnEmptyArgumentVector();
};

void WindowTest::placesControlsAtTemplateRectangles() {
    WindowDriver window;
    CtolmiDlg& dlg = window.dlg;
    const DialogUnits units(dlg.font());
    QCOMPARE(dlg.size(), QSize(units.ToPixelsX(213), units.ToPixelsY(199)));
    auto* list = window.Find<QListWidget>(IDC_FILE_LIST);
    QCOMPARE(list->geometry(), units.ToPixels({15, 56, 126, 111}));
    QCOMPARE(window.Find(IDC_SERVER)->geometry(), units.ToPixels({47, 15, 154, 12}));
    QCOMPARE(window.Find(IDC_PASSWORD)->geometry(), units.ToPixels({129, 30, 72, 12}));
    // The buttons stand in one column: Connect, Refresh, Upload, Download, Exit.
    QList<QWidget*> column;
    for (ResourceId id : {IDOK, IDC_REFRESH, IDC_UPLOAD, IDC_DOWNLOAD, IDC_EXIT})
        column << window.Find<QPushButton>(id);
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
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!dlg.windowIcon().isNull());
    // Under a scale factor the window is drawn with as many more pixels.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    QCOMPARE(dlg.devicePixelRatio(), scale);
    QCOMPARE(dlg.grab().size(), (QSizeF(dlg.size()) * scale).toSize());
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
    WindowDriver window;
    QWidget* control = window.Find(ResourceId(id));
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
    ProgressDialog progress(nullptr, monitor, ProgressActivity::Downloading, "a.bin");
    progress.show();
    QVERIFY(!progress.Figures().isEmpty());
    // What a screen reader reads out for the window's text children.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&progress);
    QStringList texts;
    for (int i = 0; i < window->childCount(); ++i)
        if (window->child(i)->role() == QAccessible::StaticText)
            texts << window->child(i)->text(QAccessible::Name);
    QVERIFY2(texts.contains(progress.Figures()), qPrintable(texts.join('|')));
}

void WindowTest::controlsStayPutWhenResized() {
    WindowDriver window;
    QWidget* exit = window.Find(IDC_EXIT);
    const QRect before = exit->geometry();
    window.dlg.resize(window.dlg.size() * 2);
    QCOMPARE(exit->geometry(), before);
    window.dlg.resize(window.dlg.size() / 3);
    QCOMPARE(exit->geometry(), before);
}

void WindowTest::messageBoxesAreTitledWithTheProgramName() {
    CtolmiDlg dlg; // with the real message boxes
    dlg.show();
    QString title;
    QString text;
    bool hasIcon = true;
    int buttons = 0;
    AnswerNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        hasIcon = box->icon() != QMessageBox::NoIcon;
        buttons = box->buttons().size();
        box->accept();
    });
    QTest::mouseClick(dlg.findChild<QPushButton*>(QString::number(IDOK)), Qt::LeftButton);
    QCOMPARE(text, QString("无法连接！"));
    QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(!hasIcon);
    QCOMPARE(buttons, 1);
}

void WindowTest::enterAfterDownloadStaysInTheWindow_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("result");
    QTest::newRow("saved") << true << "下载成功!";
    QTest::newRow("save cancelled") << false << "请输入文件名!";
}

void WindowTest::enterAfterDownloadStaysInTheWindow() {
    QFETCH(bool, save);
    QFETCH(QString, result);
    TestServer server;
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "a");
    // The save dialog opens in the working directory, offering the remote file's name.
    const QTemporaryDir local;
    const QString workingDirectory = QDir::currentPath();
    QDir::setCurrent(local.path());
    WindowDriver window;
    window.dlg.SetPrompter(std::make_unique<QtPrompter>());
    window.LogInTo(server);
    // Connect, 下载 and Enter afterwards each end with a box: Enter there lists again.
    QStringList texts;
    AnswerWithKeys(4, texts, save);
    window.Click(window.Find(IDOK));
    window.ClickLine("a.txt");
    window.Click(window.Find(IDC_DOWNLOAD));
    QDir::setCurrent(workingDirectory);
    QCOMPARE(texts.value(1), result);
    QCOMPARE(QFile::exists(local.filePath("a.txt")), save);
    QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Return);
    QVERIFY(window.dlg.isVisible());
    QCOMPARE(texts.value(2), texts.value(0));
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
