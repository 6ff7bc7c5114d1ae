// The main window as a user meets it: real Qt windows answered with keys and clicks.
#include "app/CtolmiApp.h"
#include "support/Modals.h"
#include "support/SshServer.h"
#include "support/TestCertificates.h"
#include "ui/CtolmiDlg.h"
#include "ui/DialogTemplate.h"
#include "ui/ProgressDialog.h"
#include "ui/Resource.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

// What a label shows: its text's extent, not the rectangle the template gives it.
QRect VisibleRect(QWidget* control) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label == nullptr)
        return control->geometry();
    return QRect(label->pos(), label->sizeHint()).intersected(label->geometry());
}

// The real window, shown and active, its modal windows answered as `Modals` says.
struct Window : CtolmiDlg, Modals {
    Window() {
        show();
        activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(this));
    }
    QWidget* operator()(ResourceId id) const { return findChild<QWidget*>(QString::number(id)); }
    QListWidget* List() const { return findChild<QListWidget*>(); }
    void LogIn(const QString& address, const QString& user, const QString& password) {
        for (auto [id, text] :
             {std::pair{IDC_SERVER, address}, {IDC_USER, user}, {IDC_PASSWORD, password}}) {
            (*this)(id)->setProperty("text", QString());
            QTest::keyClicks((*this)(id), text);
        }
    }
    void LogIn(const TestServer& server) {
        LogIn(server.Address(), server.User(), server.Password());
    }
    void Click(ResourceId id) { QTest::mouseClick((*this)(id), Qt::LeftButton); }
    void Press(Qt::Key key) { QTest::keyClick(windowHandle(), key); }
    // Clicks the line with this text (twice: a double-click) as a mouse does.
    void ClickLine(const QString& text, bool twice = false) {
        QListWidgetItem* line = List()->findItems(text, Qt::MatchExactly).value(0);
        QVERIFY2(line, qPrintable(text + " not in " + Lines().join('|')));
        const QPoint center = List()->visualItemRect(line).center();
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, center);
        if (twice)
            QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, center);
    }
    QStringList Lines() const {
        QStringList lines;
        for (int i = 0; i < List()->count(); ++i)
            lines << List()->item(i)->text();
        return lines;
    }
    // Whether the server, user and password fields, Connect and Download take input: "11110".
    QString Enabled() const {
        QString enabled;
        for (ResourceId id : {IDC_SERVER, IDC_USER, IDC_PASSWORD, IDOK, IDC_DOWNLOAD})
            enabled += (*this)(id)->isEnabled() ? "1" : "0";
        return enabled;
    }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placesControlsAtTemplateRectangles();
    void opensWithItsTextsLabelsAndTabOrder();
    void aSessionOnTheServer();
    void cancelAndCloseEndEachPhase_data();
    void cancelAndCloseEndEachPhase();
    void certificateQuestion_data();
    void certificateQuestion();
    void hostKeyQuestion();
    void startUpWritesNoSettings();

private:
    QTemporaryDir m_local;
    TestCertificates m_certificates;
};

void WindowTest::initTestCase() {
    // File dialogs open in the working directory.
    QDir::setCurrent(m_local.path());
    QCOMPARE(m_certificates.Generate(), QString());
}

void WindowTest::placesControlsAtTemplateRectangles() {
    Window window;
    const DialogUnits units(window.font());
    QCOMPARE(window.size(), QSize(units.ToPixelsX(213), units.ToPixelsY(199)));
    QCOMPARE(window.List()->geometry(), units.ToPixels({15, 56, 126, 111}));
    // Nothing leaves the window, no label is cut off, nothing covers anything else.
    const auto children = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QString text = child->property("text").toString();
        QVERIFY2(window.rect().contains(child->geometry()), qPrintable(text));
        QVERIFY2(!qobject_cast<QLabel*>(child) || VisibleRect(child).size() == child->sizeHint(),
                 qPrintable(text));
        for (QWidget* other : children)
            QVERIFY2(other == child || !VisibleRect(child).intersects(VisibleRect(other)),
                     qPrintable(text));
    }
    QVERIFY(!window.windowIcon().isNull());
    // Under a scale factor the window is drawn with as many more pixels.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    QCOMPARE(window.grab().size(), (QSizeF(window.size()) * scale).toSize());
}

void WindowTest::opensWithItsTextsLabelsAndTabOrder() {
    Window window;
    QCOMPARE(window.windowTitle(), "Vardelo1.0         Pemrik工作室");
    QStringList texts;
    for (auto* control : window.findChildren<QWidget*>())
        texts << control->property("text").toString();
    texts.removeAll(QString());
    texts.sort();
    QCOMPARE(texts,
             QStringList({"Made by Pemrik工作室制作", "www.pemrik.example", "上传", "下载", "刷新",
                          "密码", "文件目录列表", "服务名", "登录名", "连接", "退出"}));
    QCOMPARE(window.Enabled(), "11110");
    QCOMPARE(qobject_cast<QLineEdit*>(window(IDC_PASSWORD))->echoMode(), QLineEdit::Normal);
    // A screen reader names each field and the list by its label, and knows what it labels.
    int labelled = 0;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        QAccessibleInterface* text = QAccessible::queryAccessibleInterface(label);
        for (const auto& [control, relation] : text->relations(QAccessible::Labelled)) {
            QCOMPARE(control->object(), label->buddy());
            QCOMPARE(control->text(QAccessible::Name), label->text());
            ++labelled;
        }
    }
    QCOMPARE(labelled, 4);
    // Tab goes round the controls, past Download while it is disabled.
    for (ResourceId id : {IDC_SERVER, IDC_USER, IDC_PASSWORD, IDC_FILE_LIST, IDOK, IDC_UPLOAD,
                          IDC_EXIT, IDC_REFRESH, IDC_SERVER}) {
        QCOMPARE(QApplication::focusWidget(), window(id));
        window.Press(Qt::Key_Tab);
    }
    // Between commands Escape ends the window.
    window.Press(Qt::Key_Escape);
    QVERIFY(!window.isVisible());
}

// Each command once, and what the user may get wrong, each with its message.
void WindowTest::aSessionOnTheServer() {
    TestServer server({TestServer::KindFromEnvironment()});
    QCOMPARE(server.Start(), QString());
    for (const char* name : {"a.txt", "[x].txt", "docs/sub/deep.txt"})
        server.WriteFile(name, name);
    server.MakeDirectory("目录");
    Window window;
    window.LogIn(server);
    // Enter in a field connects, which lists directories first; Enter on Refresh refreshes,
    // which shows the same lines in the server's order.
    window.Press(Qt::Key_Return);
    const QStringList grouped = window.Lines();
    // 1. No file to upload.
    window.Click(IDC_UPLOAD);
    // 2. The arrow keys select as the mouse does: a selected line locks the login fields.
    window.List()->setFocus();
    window.Press(Qt::Key_Down);
    QCOMPARE(window.Enabled(), "00011");
    window.Click(IDC_DOWNLOAD); // a directory
    QCOMPARE(window.Enabled(), "11110");
    window(IDC_REFRESH)->setFocus();
    window.Press(Qt::Key_Return);
    QStringList inOrder = window.Lines();
    QStringList names = inOrder;
    names.sort();
    const bool dots = server.Kind() == ServerKind::Proftpd;
    QCOMPARE(
        names,
        QStringList({"[..]", "[.]", "[docs]", "[x].txt", "[目录]", "a.txt"}).mid(dots ? 0 : 2));
    inOrder.removeAll("[.]");
    const auto isDirectory = [](const QString& line) { return line.endsWith(']'); };
    std::stable_partition(inOrder.begin(), inOrder.end(), isDirectory);
    QCOMPARE(grouped, inOrder);
    QVERIFY(!window.progressShown);
    // 3. Listing again keeps the states, though no line is selected.
    window.ClickLine("a.txt");
    window.Click(IDOK);
    QCOMPARE(window.Enabled(), "00011");
    window.Click(IDC_DOWNLOAD);
    // Entering goes into the listed directory, with no message; transfers happen there too.
    window.ClickLine("[docs]", true);
    window.ClickLine("[sub]", true);
    QCOMPARE(window.Lines(), QStringList({"[..]", "deep.txt"}).mid(dots ? 0 : 1));
    window.fileName = m_local.filePath("上传 [1].txt");
    WriteBytes(window.fileName, {});
    window.Click(IDC_UPLOAD);
    QVERIFY(QFile::exists(server.Root() + "/docs/sub/上传 [1].txt"));
    // 4. No local name; clicking the still selected line enables Download again.
    window.ClickLine("deep.txt");
    window.fileName.clear();
    window.Click(IDC_DOWNLOAD);
    window.ClickLine("deep.txt");
    QCOMPARE(window.Enabled(), "00011");
    window.fileName = m_local.filePath("deep");
    window.Click(IDC_DOWNLOAD);
    QCOMPARE(ReadBytes(window.fileName), "docs/sub/deep.txt");
    // 5. Enter after a download lists again, like any Enter in the window.
    window.Press(Qt::Key_Return);
    // 6. A directory gone from the server.
    QVERIFY(QDir(server.Root()).rmdir("目录"));
    window.ClickLine("[目录]", true);
    QCOMPARE(window.offeredNames, QStringList({"", "", "deep.txt", "deep.txt"}));
    const QString connected = "连接成功！" + server.Address();
    QCOMPARE(window.messages,
             QStringList({connected, "请选择文件！", "不能下载目录，请重新选择!", "刷新成功！",
                          connected, "请选择要下载的文件!", "上传成功！", "请输入文件名!",
                          "下载成功!", connected, "无法打开目录！"}));
    QVERIFY(!window.HoldsConnection());
    window.Click(IDC_EXIT);
    QVERIFY(!window.isVisible());
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
    QFETCH(QString, message);
    TestServerOptions options;
    options.words << "throttle=204800";
    TestServer server(options);
    HostileServer silent("no_greeting");
    QCOMPARE(server.Start() + silent.Start(), QString());
    server.WriteFile("big.bin", QByteArray(1 << 21, 'b'));
    for (int i = 0; phase == "listing" && i < 10000; ++i)
        server.WriteFile(QString("many/entry-with-a-longish-name-%1").arg(i), {});
    // An upload larger than the sockets buffer, so it is still running.
    const QString local = m_local.filePath(QTest::currentDataTag());
    if (phase == "upload")
        WriteBytes(local, QByteArray(13 << 20, 'u'));
    Window window;
    window.LogIn(server);
    window.Click(IDOK);
    // The progress window shows while the window's loop runs on; then the user acts.
    QElapsedTimer sinceAction;
    window.onProgress = [&](ProgressDialog& progress) {
        QCOMPARE(progress.Encryption(), phase == "login" ? "" : "未加密");
        QTest::qWait(300);
        sinceAction.start();
        if (action == "cancel")
            QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
        else if (action == "escape")
            QTest::keyClick(progress.windowHandle(), Qt::Key_Escape);
        else
            window.close(); // as the close box does, and the desktop at logout
    };
    window.fileName = local;
    if (phase == "login")
        window.LogIn(silent.Address(), "u", "p");
    if (phase == "download")
        window.ClickLine("big.bin");
    if (phase == "listing")
        window.ClickLine("[many]", true);
    else
        window.Click(phase == "download" ? IDC_DOWNLOAD : phase == "upload" ? IDC_UPLOAD : IDOK);
    QVERIFY(sinceAction.isValid());
    QCOMPARE_LT(sinceAction.elapsed(), 1500);
    const bool closed = action == "close";
    QCOMPARE(window.messages.mid(1), closed ? QStringList() : QStringList{message});
    QCOMPARE(window.isVisible(), !closed);
    if (phase == "listing" && !closed)
        QCOMPARE(window.Lines(), QStringList());
    QVERIFY(!window.HoldsConnection());
}

// Enter and Escape leave the server untrusted; two keys trust it for this run.
void WindowTest::certificateQuestion_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::newRow("Enter") << QList<int>{Qt::Key_Return};
    QTest::newRow("Escape") << QList<int>{Qt::Key_Escape};
    QTest::newRow("trust") << QList<int>{Qt::Key_Backtab, Qt::Key_Space};
}

void WindowTest::certificateQuestion() {
    QFETCH(QList<int>, keys);
    TestServerOptions options;
    options.tls = TlsOffer::Explicit;
    options.certificate = m_certificates.SelfSigned(0);
    auto server = std::make_unique<TestServer>(options);
    QCOMPARE(server->Start(), QString());
    const QString address = server->Address();
    Window window;
    window.LogIn(*server);
    window.boxKeys = keys;
    window.Click(IDOK);
    const QString question = window.messages.value(0);
    for (const QString& part : {address, QString("证书是自签名的"),
                                m_certificates.Sha256Fingerprint(options.certificate)})
        QVERIFY2(question.contains(part), qPrintable(question));
    const bool trusted = keys.size() == 2;
    QCOMPARE(window.messages.mid(1), QStringList{trusted ? "连接成功！" + address : "无法连接！"});
    if (!trusted)
        return;
    // The same server with another certificate: a warning, not the question.
    options.words << "port=" + address.section(':', 1);
    options.certificate = m_certificates.SelfSigned(1);
    server = std::make_unique<TestServer>(options);
    QCOMPARE(server->Start(), QString());
    window.Click(IDOK);
    const QString changed = "服务器 %1 的证书与本次运行中早先信任的证书不同，连接已中止！";
    QCOMPARE(window.messages.mid(2), QStringList({changed.arg(address), "无法连接！"}));
}

// The keys are the certificate question's; here its text, and that trusting lets the login go on.
void WindowTest::hostKeyQuestion() {
    SshServer server;
    QCOMPARE(server.Start(), QString());
    // No known_hosts of this machine's.
    qputenv("HOME", QFile::encodeName(m_local.path()));
    Window window;
    window.LogIn(server.Address(), server.User(), "pw");
    window.boxKeys = {Qt::Key_Backtab, Qt::Key_Space};
    window.Click(IDOK);
    const QString fingerprint = Run("ssh-keygen", {"-lf", server.HostKey(), "-E", "sha256"});
    const QString asked = "服务器 %1 的 SSH 主机密钥不在已知主机列表中。\n\n"
                          "密钥类型：ssh-ed25519\n指纹：%2\n\n是否仅在本次运行中信任此密钥？";
    QCOMPARE(window.messages, QStringList({asked.arg(server.Address(), fingerprint.split(' ')[1]),
                                           "连接成功！" + server.Address()}));
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
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
