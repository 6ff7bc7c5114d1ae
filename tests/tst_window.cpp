// The main window as a user meets it: real Qt windows answered with keys and clicks.
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

// The real window, shown and active, its modal windows answered by `modals`.
struct Window {
    Window() {
        dlg.show();
        dlg.activateWindow();
        if (!QTest::qWaitForWindowActive(&dlg))
            qWarning("the main window did not become active");
    }
    QWidget* operator()(ResourceId id) const {
        return dlg.findChild<QWidget*>(QString::number(id));
    }
    QListWidget* List() const { return qobject_cast<QListWidget*>((*this)(IDC_FILE_LIST)); }
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
    // Clicks the line with this text (twice: a double-click) as a mouse does.
    void ClickLine(const QString& text, bool twice = false) {
        QListWidgetItem* line = List()->findItems(text, Qt::MatchExactly).value(0);
        QVERIFY2(line != nullptr, qPrintable(text + " not in " + Lines().join('|')));
        List()->scrollToItem(line);
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

    Modals modals;
    CtolmiDlg dlg;
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placesControlsAtTemplateRectangles();
    void opensWithItsTextsLabelsAndTabOrder();
    void keysRunTheCommandTheyName_data();
    void keysRunTheCommandTheyName();
    void aSessionOnTheServer();
    void eachMistakeHasItsMessage();
    void cancelAndCloseEndEachPhase_data();
    void cancelAndCloseEndEachPhase();
    void progressSaysHowTheLineIsProtected_data();
    void progressSaysHowTheLineIsProtected();
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
    QString error;
    QVERIFY2(m_certificates.Generate(error), qPrintable(error));
}

void WindowTest::placesControlsAtTemplateRectangles() {
    Window window;
    CtolmiDlg& dlg = window.dlg;
    const DialogUnits units(dlg.font());
    QCOMPARE(dlg.size(), QSize(units.ToPixelsX(213), units.ToPixelsY(199)));
    QListWidget* list = window.List();
    QCOMPARE(list->geometry(), units.ToPixels({15, 56, 126, 111}));
    QCOMPARE(window(IDC_EXIT)->geometry(), units.ToPixels({146, 147, 55, 18}));
    // Nothing leaves the window, no label is cut off, nothing covers anything else.
    const QList<QWidget*> children = dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QString text = child->property("text").toString();
        QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(text));
        QVERIFY2(!qobject_cast<QLabel*>(child) || VisibleRect(child).size() == child->sizeHint(),
                 qPrintable(text));
        for (QWidget* other : children)
            QVERIFY2(other == child || !VisibleRect(child).intersects(VisibleRect(other)),
                     qPrintable(text));
    }
    QVERIFY(!dlg.windowIcon().isNull());
    // Under a scale factor the window is drawn with as many more pixels.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    QCOMPARE(dlg.grab().size(), (QSizeF(dlg.size()) * scale).toSize());
    // A larger window moves and stretches nothing.
    const QRect before = list->geometry();
    dlg.resize(dlg.size() * 2);
    QCOMPARE(list->geometry(), before);
}

void WindowTest::opensWithItsTextsLabelsAndTabOrder() {
    Window window;
    QCOMPARE(window.dlg.windowTitle(), "Vardelo1.0         Pemrik工作室");
    QStringList texts;
    for (auto* control : window.dlg.findChildren<QWidget*>())
        texts << control->property("text").toString();
    texts.removeAll(QString());
    texts.sort();
    QCOMPARE(texts,
             QStringList({"Made by Pemrik工作室制作", "www.pemrik.example", "上传", "下载", "刷新",
                          "密码", "文件目录列表", "服务名", "登录名", "连接", "退出"}));
    QCOMPARE(window.Enabled(), "11110");
    QCOMPARE(qobject_cast<QLineEdit*>(window(IDC_PASSWORD))->echoMode(), QLineEdit::Normal);
    // A screen reader names each field and the list by its label, and knows what it labels.
    QStringList labels;
    for (QLabel* label : window.dlg.findChildren<QLabel*>()) {
        QAccessibleInterface* text = QAccessible::queryAccessibleInterface(label);
        for (const auto& [control, relation] : text->relations(QAccessible::Labelled)) {
            QCOMPARE(control->object(), label->buddy());
            QCOMPARE(control->text(QAccessible::Name), label->text());
            labels << label->text();
        }
    }
    QCOMPARE(labels.size(), 4);
    // Tab goes round the controls, past Download while it is disabled.
    for (ResourceId id : {IDC_SERVER, IDC_USER, IDC_PASSWORD, IDC_FILE_LIST, IDOK, IDC_UPLOAD,
                          IDC_EXIT, IDC_REFRESH, IDC_SERVER}) {
        QCOMPARE(QApplication::focusWidget(), window(id));
        QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Tab);
    }
}

void WindowTest::keysRunTheCommandTheyName_data() {
    QTest::addColumn<int>("focus"); // 0: the close box
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("result"); // the message, or how the window ended
    // An empty server field fails at once: each Enter is one Connect and one message.
    // clang-format off
    QTest::newRow("Enter in a field") << int(IDC_SERVER) << int(Qt::Key_Return) << "无法连接！";
    QTest::newRow("keypad Enter") << int(IDC_PASSWORD) << int(Qt::Key_Enter) << "无法连接！";
    QTest::newRow("Enter on Refresh") << int(IDC_REFRESH) << int(Qt::Key_Return) << "无法刷新！";
    QTest::newRow("Escape") << int(IDC_SERVER) << int(Qt::Key_Escape) << "rejected";
    QTest::newRow("close box") << 0 << 0 << "rejected";
    QTest::newRow("Exit") << int(IDC_EXIT) << int(Qt::Key_Space) << "accepted";
    // clang-format on
}

void WindowTest::keysRunTheCommandTheyName() {
    QFETCH(int, focus);
    QFETCH(int, key);
    Window window;
    if (focus == 0) {
        window.dlg.close();
    } else {
        window(ResourceId(focus))->setFocus();
        QTest::keyClick(window.dlg.windowHandle(), Qt::Key(key));
    }
    const bool accepted = window.dlg.result() == QDialog::Accepted;
    const QString ended = window.dlg.isVisible() ? "" : accepted ? "accepted" : "rejected";
    QTEST(window.modals.texts.join('|') + ended, "result");
    // Message boxes are titled with the program's name.
    for (const QString& title : window.modals.titles)
        QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

void WindowTest::aSessionOnTheServer() {
    TestServer server({TestServer::KindFromEnvironment()});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    for (const char* name : {"a.txt", "with space.txt", "中文.txt", "[x].txt", "docs/sub/deep.txt"})
        server.WriteFile(name, name);
    server.MakeDirectory("目录");
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
    const QStringList all{"[..]",   "[.]",   "[docs]",         "[x].txt",
                          "[目录]", "a.txt", "with space.txt", "中文.txt"};
    QCOMPARE(names, all.mid(dots ? 0 : 2));
    inOrder.removeAll("[.]");
    const auto isDirectory = [](const QString& line) { return line.endsWith(']'); };
    std::stable_partition(inOrder.begin(), inOrder.end(), isDirectory);
    QCOMPARE(grouped, inOrder);
    QVERIFY(!window.modals.progressShown);
    // Entering goes into the listed directory, with no message; transfers happen there too.
    window.ClickLine("[docs]", true);
    window.ClickLine("[sub]", true);
    QCOMPARE(window.Lines(), QStringList({"[..]", "deep.txt"}).mid(dots ? 0 : 1));
    window.ClickLine("deep.txt");
    window.modals.fileName = m_local.filePath("deep");
    window.Click(IDC_DOWNLOAD);
    QCOMPARE(window.modals.offeredNames, QStringList{"deep.txt"});
    QCOMPARE(ReadBytes(window.modals.fileName), "docs/sub/deep.txt");
    window.modals.fileName = m_local.filePath("上传 [1].txt");
    QFile(window.modals.fileName).open(QIODevice::WriteOnly);
    window.Click(IDC_UPLOAD);
    QVERIFY(QFile::exists(server.Root() + "/docs/sub/上传 [1].txt"));
    QCOMPARE(window.modals.texts, QStringList({"连接成功！" + server.Address(), "刷新成功！",
                                               "下载成功!", "上传成功！"}));
    if (dots) {
        window.ClickLine("[..]", true);
        QVERIFY(window.Lines().contains("[sub]"));
    }
    QVERIFY(!window.dlg.HoldsConnection());
}

// What the user may get wrong, each with its message; the window stays usable after each.
void WindowTest::eachMistakeHasItsMessage() {
    TestServer server;
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    server.WriteFile("a.txt", "a");
    server.MakeDirectory("docs");
    Window window;
    window.LogIn(server);
    window.Click(IDOK);
    // 1. No file to upload.
    window.Click(IDC_UPLOAD);
    // 2. The arrow keys select as the mouse does: a selected line locks the login fields.
    window(IDC_FILE_LIST)->setFocus();
    QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Down);
    QCOMPARE(window.Enabled(), "00011");
    window.Click(IDC_DOWNLOAD); // [docs]
    QCOMPARE(window.Enabled(), "11110");
    // 3. Listing again keeps the states, though no line is selected.
    window.ClickLine("a.txt");
    window.Click(IDOK);
    QCOMPARE(window.Enabled(), "00011");
    window.Click(IDC_DOWNLOAD);
    // 4. No local name; clicking the still selected line enables Download again.
    window.ClickLine("a.txt");
    window.Click(IDC_DOWNLOAD);
    window.ClickLine("a.txt");
    QCOMPARE(window.Enabled(), "00011");
    // 5. Enter after a download lists again, like any Enter in the window.
    window.modals.fileName = m_local.filePath("a.txt");
    window.Click(IDC_DOWNLOAD);
    QTest::keyClick(window.dlg.windowHandle(), Qt::Key_Return);
    QVERIFY(window.dlg.isVisible());
    // 6. A directory gone from the server.
    QVERIFY(QDir(server.Root()).rmdir("docs"));
    window.ClickLine("[docs]", true);
    const QString connected = "连接成功！" + server.Address();
    QCOMPARE(window.modals.texts,
             QStringList({connected, "请选择文件！", "不能下载目录，请重新选择!", connected,
                          "请选择要下载的文件!", "请输入文件名!", "下载成功!", connected,
                          "无法打开目录！"}));
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
    for (int i = 0; phase == "listing" && i < 10000; ++i)
        server.WriteFile(QString("many/entry-with-a-longish-name-%1").arg(i), {});
    // An upload replaces the server's file; more than the sockets buffer, so it is still running.
    const QString name = phase + "-" + action + ".bin";
    server.WriteFile(name, "old");
    const QString local = m_local.filePath(name);
    QFile upload(local);
    QVERIFY(phase != "upload" || (upload.open(QIODevice::WriteOnly) && upload.resize(13 << 20)));
    Window window;
    window.LogIn(server);
    window.Click(IDOK);
    window.modals.texts.clear();
    // The progress window shows while the window's loop runs on; then the user acts.
    QElapsedTimer sinceAction;
    window.modals.onProgress = [&](ProgressDialog& progress) {
        QTest::qWait(300);
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
        window.LogIn(silent.Address(), "u", "p");
    if (phase == "download")
        window.ClickLine("big.bin");
    if (phase == "listing")
        window.ClickLine("[many]", true);
    else
        window.Click(phase == "download" ? IDC_DOWNLOAD : phase == "upload" ? IDC_UPLOAD : IDOK);
    QVERIFY(sinceAction.isValid());
    QVERIFY2(sinceAction.elapsed() < 1500, qPrintable(QString::number(sinceAction.elapsed())));
    const bool closed = action == "close";
    QFETCH(QString, message);
    QCOMPARE(window.modals.texts, closed ? QStringList() : QStringList{message});
    QCOMPARE(window.dlg.isVisible(), !closed);
    QCOMPARE(QFile::exists(local), phase == "upload");
    QCOMPARE(ReadBytes(server.Root() + "/" + name), "old");
    if (phase == "listing" && !closed)
        QCOMPARE(window.Lines(), QStringList());
    QVERIFY(!window.dlg.HoldsConnection());
}

void WindowTest::progressSaysHowTheLineIsProtected_data() {
    QTest::addColumn<QByteArray>("tls"); // "ssh": an SFTP session
    QTest::addColumn<QString>("text");
    QTest::newRow("clear") << QByteArray() << "未加密";
    QTest::newRow("TLS 1.3") << QByteArray("TLSv1.3") << "已加密（TLS 1.3）";
    QTest::newRow("SSH") << QByteArray("ssh") << "已加密（SSH）";
}

void WindowTest::progressSaysHowTheLineIsProtected() {
    QFETCH(QByteArray, tls);
    TransferMonitor monitor;
    tls == "ssh" ? monitor.SetSsh() : monitor.SetTlsVersion(tls);
    ProgressDialog progress(nullptr, monitor, ProgressActivity::Downloading, "a.bin");
    progress.Refresh();
    QTEST(progress.Encryption(), "text");
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
    const bool trusted = keys.size() == 2;
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

// The answers are the certificate question's; here the texts, and a key other than the known one.
void WindowTest::hostKeyQuestion() {
    SshServer server;
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    const QString address = server.Address();
    QTemporaryDir home;
    const QByteArray userHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    QVERIFY(QDir(home.path()).mkdir(".ssh"));
    QFile hosts(home.filePath(".ssh/known_hosts"));
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    const QByteArray key = QByteArray("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + QByteArray(32, 'k');
    hosts.write("[127.0.0.1]:" + address.section(':', 2).toUtf8() + " ssh-ed25519 " +
                key.toBase64());
    hosts.close();
    Window window;
    window.LogIn(address, server.User(), "pw");
    window.Click(IDOK);
    QVERIFY(!server.Log().contains("Accepted password"));
    hosts.remove();
    window.modals.boxKeys = {Qt::Key_Backtab, Qt::Key_Space};
    window.Click(IDOK);
    qputenv("HOME", userHome);
    const QString fingerprint = Run("ssh-keygen", {"-lf", server.HostKey(), "-E", "sha256"});
    const QString asked = "服务器 %1 的 SSH 主机密钥不在已知主机列表中。\n\n"
                          "密钥类型：ssh-ed25519\n指纹：%2\n\n是否仅在本次运行中信任此密钥？";
    const QString warned = "服务器 %1 的 SSH 主机密钥与已知或本次运行中早先信任的密钥不同，"
                           "连接已中止！";
    QCOMPARE(window.modals.texts,
             QStringList({warned.arg(address), "无法连接！",
                          asked.arg(address, fingerprint.split(' ')[1]), "连接成功！" + address}));
    QVERIFY(server.Log().contains("Accepted password"));
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
