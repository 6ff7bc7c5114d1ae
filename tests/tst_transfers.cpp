// Upload and Download on the real window and a real server.
#include "tests/support/LocalFiles.h"
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>
#include <cstdio>

namespace {

QByteArray Content(const QString& kind) {
    if (kind == "bytes") {
        QByteArray bytes;
        for (int i = 0; i < 256; ++i)
            bytes.append(static_cast<char>(i));
        return bytes + "\r\n\n\r" + bytes;
    }
    if (kind == "large") {
        QByteArray bytes(32 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        return bytes;
    }
    return {};
}

} // namespace

class TransfersTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void roundTripsByteForByte_data();
    void roundTripsByteForByte();
    void cancelledChoosersSendNothing();
    void directoryLineIsRefused();
    void gbkNamesAreShownAndSentBackUnchanged();
    void activeModeRefusedFallsBackToPassive();
    void noSelectedLineDownloadsNothing();
    void wrongPasswordCreatesAndSendsNothing();
    void existingLocalFileIsNeverReplaced();
    void missingRemoteFileLeavesNoLocalFile();
    void transfersHappenInTheListedDirectory();
    void unsafeRemoteNamesAreOfferedSafely();
    void controlStatesAfterEveryPath();

private:
    // Connects and selects `line`.
    void ConnectAndSelect(WindowDriver& window, const QString& line);

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TransfersTest::initTestCase() {
    m_server = std::make_unique<TestServer>(TestServerOptions{TestServer::KindFromEnvironment()});
    m_server->WriteFile("a.txt", "root a");
    m_server->WriteFile("docs/a.txt", "docs a");
    m_server->WriteFile("docs/only-in-docs.txt", "only docs");
    m_server->WriteFile("中文 名.txt", "chinese");
    m_server->WriteFile("[x].txt", "bracket");
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
}

void TransfersTest::init() {
    m_local = std::make_unique<QTemporaryDir>();
}

void TransfersTest::ConnectAndSelect(WindowDriver& window, const QString& line) {
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.ClickLine(line);
}

void TransfersTest::roundTripsByteForByte_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::newRow("every byte value") << "bytes.bin"
                                      << "bytes";
    QTest::newRow("empty file") << "empty.bin"
                                << "empty";
    QTest::newRow("32 MiB") << "large.bin"
                            << "large";
    QTest::newRow("chinese name with space") << "上传 文件.txt"
                                             << "bytes";
    QTest::newRow("leading bracket") << "[up].txt"
                                     << "bytes";
    QTest::newRow("url characters") << "%#?;type=a.txt"
                                    << "bytes";
}

void TransfersTest::roundTripsByteForByte() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    const QByteArray content = Content(kind);
    const QString source = m_local->filePath(name);
    WriteLocal(source, content);

    WindowDriver window;
    window.LogInTo(*m_server);
    window.prompter->openAnswers << source;
    window.Click(window.dlg.m_btnUpload);
    QCOMPARE(window.prompter->messages, QStringList{"上传成功！"});
    QVERIFY(m_server->ReadFile(name) == content);
    QVERIFY(window.Lines().isEmpty()); // the list is not touched

    window.Click(window.dlg.m_btnRefresh);
    QVERIFY(window.Lines().contains(name));
    window.ClickLine(name);
    const QString target = m_local->filePath("downloaded");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->suggestedNames, QStringList{name});
    QCOMPARE(window.prompter->messages.last(), QString("下载成功!"));
    QVERIFY(ReadLocal(target) == content);
    QVERIFY(window.ConnectionReleased());
}

void TransfersTest::cancelledChoosersSendNothing() {
    WindowDriver window;
    ConnectAndSelect(window, "a.txt");
    const int logins = m_server->Logins();
    window.Click(window.dlg.m_btnUpload);
    QCOMPARE(window.prompter->messages.last(), QString("请选择文件！"));
    window.ClickLine("a.txt");
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("请输入文件名!"));
    QCOMPARE(window.prompter->choosersShown, 2);
    QCOMPARE(m_server->Logins(), logins); // no login
}

void TransfersTest::directoryLineIsRefused() {
    WindowDriver window;
    ConnectAndSelect(window, "[docs]");
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("不能下载目录，请重新选择!"));
    QCOMPARE(window.prompter->choosersShown, 0);

    // A file whose name begins with "[" is downloadable.
    window.ClickLine("[x].txt");
    const QString target = m_local->filePath("x.txt");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载成功!"));
    QCOMPARE(ReadLocal(target), QByteArray("bracket"));
}

void TransfersTest::gbkNamesAreShownAndSentBackUnchanged() {
    if (m_server->Kind() != ServerKind::Proftpd)
        QSKIP("pyftpdlib cannot serve names that are not UTF-8");
    const QByteArray gbkName = "\xd6\xd0\xce\xc4.txt"; // 中文.txt in GBK
    // Qt cannot name such a file: the bytes go to the file system as they are.
    FILE* raw = std::fopen((QFile::encodeName(m_server->Root()) + "/" + gbkName).constData(), "wb");
    QVERIFY(raw && std::fputs("gbk", raw) >= 0 && std::fclose(raw) == 0);
    WindowDriver window;
    ConnectAndSelect(window, "中文.txt");
    const QString target = m_local->filePath("gbk.txt");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载成功!"));
    QCOMPARE(ReadLocal(target), QByteArray("gbk"));
}

void TransfersTest::activeModeRefusedFallsBackToPassive() {
    if (m_server->Kind() == ServerKind::Proftpd)
        QSKIP("the refusing server is a pyftpdlib variant");
    TestServer refusing({m_server->Kind(), true});
    refusing.WriteFile("file.txt", "passive");
    QString error;
    QVERIFY2(refusing.Start(error), qPrintable(error));
    WindowDriver window;
    window.LogInTo(refusing);
    window.Click(window.dlg.m_btnConnect);
    QCOMPARE(window.Lines(), QStringList{"file.txt"});
    window.ClickLine("file.txt");
    window.prompter->saveAnswers << m_local->filePath("passive.txt");
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(ReadLocal(m_local->filePath("passive.txt")), QByteArray("passive"));
    const QStringList commands = refusing.Commands();
    QVERIFY(!commands.filter(QRegularExpression("^(EPRT|PORT) ")).isEmpty());
    QVERIFY(commands.contains("EPSV") || commands.contains("PASV"));
}

void TransfersTest::noSelectedLineDownloadsNothing() {
    WindowDriver window;
    ConnectAndSelect(window, "a.txt");
    // Connect refills the list: Download stays enabled, but no line is selected.
    window.Click(window.dlg.m_btnConnect);
    QVERIFY(window.dlg.m_btnDownload->isEnabled());
    QVERIFY(window.dlg.m_listFiles->selectedItems().isEmpty());
    const int logins = m_server->Logins();
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("请选择要下载的文件!"));
    QCOMPARE(window.prompter->choosersShown, 0);
    QCOMPARE(m_server->Logins(), logins);
    QVERIFY(!window.dlg.m_btnDownload->isEnabled());
    QVERIFY(window.LoginFieldsEnabled());
}

void TransfersTest::wrongPasswordCreatesAndSendsNothing() {
    WindowDriver window;
    ConnectAndSelect(window, "a.txt");
    window.Click(window.dlg.m_btnUpload); // a cancelled upload unlocks the fields again
    window.dlg.m_editPassword->setText("wrong");
    window.ClickLine("a.txt");
    const QString target = m_local->filePath("never.txt");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(target));

    const QString source = m_local->filePath("not-sent.txt");
    WriteLocal(source, "x");
    window.prompter->openAnswers << source;
    window.Click(window.dlg.m_btnUpload);
    QCOMPARE(window.prompter->messages.last(), QString("上传失败！"));
    QVERIFY(!QFile::exists(m_server->Root() + "/not-sent.txt"));
    QVERIFY(window.ConnectionReleased());
}

void TransfersTest::existingLocalFileIsNeverReplaced() {
    WindowDriver window;
    ConnectAndSelect(window, "a.txt");
    const QString existing = m_local->filePath("existing.txt");
    WriteLocal(existing, "precious");
    window.prompter->saveAnswers << existing;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QCOMPARE(ReadLocal(existing), QByteArray("precious"));
}

void TransfersTest::missingRemoteFileLeavesNoLocalFile() {
    m_server->WriteFile("vanishing.txt", "soon gone");
    WindowDriver window;
    ConnectAndSelect(window, "vanishing.txt");
    QVERIFY(QFile::remove(m_server->Root() + "/vanishing.txt"));
    const QString target = m_local->filePath("vanishing.txt");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载失败!"));
    QVERIFY(!QFile::exists(target));
}

void TransfersTest::transfersHappenInTheListedDirectory() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    window.ClickLine("a.txt");
    const QString target = m_local->filePath("a.txt");
    window.prompter->saveAnswers << target;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("下载成功!"));
    QCOMPARE(ReadLocal(target), QByteArray("docs a"));

    window.ClickLine("only-in-docs.txt");
    const QString only = m_local->filePath("only.txt");
    window.prompter->saveAnswers << only;
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(ReadLocal(only), QByteArray("only docs"));

    WriteLocal(m_local->filePath("upload.txt"), "new in docs");
    window.prompter->openAnswers << m_local->filePath("upload.txt");
    window.Click(window.dlg.m_btnUpload);
    QCOMPARE(window.prompter->messages.last(), QString("上传成功！"));
    QCOMPARE(m_server->ReadFile("docs/upload.txt"), QByteArray("new in docs"));
    QVERIFY(!QFile::exists(m_server->Root() + "/upload.txt"));
    QCOMPARE(m_server->ReadFile("a.txt"), QByteArray("root a"));
}

void TransfersTest::unsafeRemoteNamesAreOfferedSafely() {
    if (m_server->Kind() != ServerKind::Proftpd)
        QSKIP("needs a server that lists the parent entry");
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);
    window.DoubleClickLine("[docs]");
    // [..] is a directory: refused, never offered as a file name.
    window.ClickLine("[..]");
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), QString("不能下载目录，请重新选择!"));
    QVERIFY(window.prompter->suggestedNames.isEmpty());
}

void TransfersTest::controlStatesAfterEveryPath() {
    WindowDriver window;
    window.LogInTo(*m_server);
    window.Click(window.dlg.m_btnConnect);

    // Upload from an unselected list, then from a selected one: Download keeps its state.
    window.Click(window.dlg.m_btnUpload);
    QVERIFY(window.LoginFieldsEnabled());
    QVERIFY(window.dlg.m_btnConnect->isEnabled());
    QVERIFY(!window.dlg.m_btnDownload->isEnabled());
    window.ClickLine("a.txt");
    bool lockedDuringUpload = false;
    window.prompter->onMessage = [&](const QString&) {
        lockedDuringUpload =
            !window.dlg.m_editServer->isEnabled() && !window.dlg.m_btnConnect->isEnabled();
    };
    window.Click(window.dlg.m_btnUpload);
    window.prompter->onMessage = nullptr;
    QVERIFY(lockedDuringUpload);
    QVERIFY(window.LoginFieldsEnabled());
    QVERIFY(window.dlg.m_btnConnect->isEnabled());
    QVERIFY(window.dlg.m_btnDownload->isEnabled());

    // Every Download path ends with the fields and Connect enabled and Download disabled.
    for (const QString& line : {QString("a.txt"), QString("[docs]")}) {
        window.ClickLine(line);
        window.Click(window.dlg.m_btnDownload);
        QVERIFY(window.LoginFieldsEnabled());
        QVERIFY(window.dlg.m_btnConnect->isEnabled());
        QVERIFY(!window.dlg.m_btnDownload->isEnabled());
        QVERIFY(!window.dlg.m_listFiles->selectedItems().isEmpty()); // still selected
    }
}

QTEST_MAIN(TransfersTest)
#include "tst_transfers.moc"
