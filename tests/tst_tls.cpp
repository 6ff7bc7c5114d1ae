// FTP over TLS on the real window: verified logins and transfers, certificates the user is
// asked about or that change, servers that stop offering TLS, and the server field's schemes.
#include "tests/support/LocalFiles.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestServer.h"
#include "tests/support/WindowDriver.h"
#include "ui/ProgressDialog.h"
#include "ui/QtPrompter.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

QByteArray RandomBytes(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(12).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes;
}

int IndexOf(const QStringList& commands, const QString& prefix) {
    for (int i = 0; i < commands.size(); ++i) {
        if (commands[i].startsWith(prefix))
            return i;
    }
    return -1;
}

} // namespace

class TlsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void verifiedLoginsAndTransfers_data();
    void verifiedLoginsAndTransfers();
    void unverifiedCertificateIsAskedAbout_data();
    void unverifiedCertificateIsAskedAbout();
    void clearTextOnlyWhereAllowed_data();
    void clearTextOnlyWhereAllowed();
    void cancelledTransferLeavesNoFile_data();
    void cancelledTransferLeavesNoFile();
    void cutOffUploadIsAFailure_data();
    void cutOffUploadIsAFailure();
    void trustQuestionDefaultsToCancel_data();
    void trustQuestionDefaultsToCancel();

private:
    static TestServerOptions Options(ServerKind kind, TlsOffer tls, const QString& certificate);
    static std::unique_ptr<TestServer> Start(const TestServerOptions& options);
    static void Connect(WindowDriver& window, const QString& server, const TestServer& at);

    TestCertificates m_certificates;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TlsTest::initTestCase() {
    QString error;
    QVERIFY2(m_certificates.Generate(error), qPrintable(error));
}

void TlsTest::init() {
    m_local = std::make_unique<QTemporaryDir>();
}

TestServerOptions TlsTest::Options(ServerKind kind, TlsOffer tls, const QString& certificate) {
    TestServerOptions options;
    options.kind = kind;
    options.tls = tls;
    options.certificate = certificate;
    return options;
}

std::unique_ptr<TestServer> TlsTest::Start(const TestServerOptions& options) {
    auto server = std::make_unique<TestServer>(options);
    QString error;
    if (!server->Start(error))
        qFatal("%s", qPrintable(error));
    return server;
}

void TlsTest::Connect(WindowDriver& window, const QString& server, const TestServer& at) {
    window.Type(server, at.User(), at.Password());
    window.Click(window.dlg.m_btnConnect);
}

void TlsTest::verifiedLoginsAndTransfers_data() {
    QTest::addColumn<ServerKind>("kind");
    QTest::addColumn<TlsOffer>("tls");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("tls13Only");

    QTest::newRow("pyftpdlib, TLS offered, 1 MiB")
        << ServerKind::Pyftpdlib << TlsOffer::Explicit << "" << kMiB << false;
    QTest::newRow("pyftpdlib, TLS required, ftpes, 100 MiB")
        << ServerKind::Pyftpdlib << TlsOffer::Required << "ftpes://" << 100 * kMiB << false;
    QTest::newRow("pyftpdlib, implicit TLS, ftps, 1 MiB")
        << ServerKind::Pyftpdlib << TlsOffer::Implicit << "ftps://" << kMiB << false;
    QTest::newRow("pyftpdlib, TLS 1.3 only, 1 MiB")
        << ServerKind::Pyftpdlib << TlsOffer::Explicit << "" << kMiB << true;
    QTest::newRow("proftpd, TLS offered, ftp scheme, 1 MiB")
        << ServerKind::Proftpd << TlsOffer::Explicit << "ftp://" << kMiB << false;
    QTest::newRow("proftpd, TLSRequired, 100 MiB")
        << ServerKind::Proftpd << TlsOffer::Required << "" << 100 * kMiB << false;
}

void TlsTest::verifiedLoginsAndTransfers() {
    QFETCH(ServerKind, kind);
    QFETCH(TlsOffer, tls);
    QFETCH(QString, scheme);
    QFETCH(qint64, size);
    TestServerOptions options = Options(kind, tls, m_certificates.Signed());
    QFETCH(bool, tls13Only);
    options.tls13Only = tls13Only;
    // A slow reader: over TLS 1.3 the client's close can cut an upload off at such a server.
    options.throttle = tls13Only ? kMiB : 0;
    const auto server = Start(options);
    const QByteArray content = RandomBytes(size);
    server->WriteFile("down.bin", content);
    WindowDriver window;
    window.dlg.SetTlsAuthority(m_certificates.Authority());

    // 1. Connect lists the login directory.
    const QString path = scheme.isEmpty() ? "" : "/ignored/path";
    Connect(window, " " + scheme + server->Address() + path + " ", *server);
    QVERIFY2(window.prompter->messages.value(0).startsWith("连接成功！"),
             qPrintable(window.prompter->messages.join(" | ")));
    QVERIFY(window.Lines().contains("down.bin"));
    // 2. Upload and download, byte for byte.
    const QString upload = m_local->filePath("up.bin");
    WriteLocal(upload, content);
    window.prompter->openAnswers << upload;
    window.Click(window.dlg.m_btnUpload);
    // Success means the whole file; only a TLS 1.3 server may have cut it off, and then
    // nothing of it stays.
    const bool uploaded = window.prompter->messages.last() == "上传成功！";
    QVERIFY(uploaded || tls13Only);
    QCOMPARE(server->ReadFile("up.bin"), uploaded ? content : QByteArray());
    QCOMPARE(QDir(server->Root()).entryList(QDir::Files | QDir::Hidden).size(), uploaded ? 2 : 1);
    window.ClickLine("down.bin");
    window.prompter->saveAnswers << m_local->filePath("down.bin");
    window.Click(window.dlg.m_btnDownload);
    QCOMPARE(window.prompter->messages.last(), "下载成功!");
    QVERIFY(ReadLocal(m_local->filePath("down.bin")) == content);

    // 3. Verified: nothing asked. Every login went encrypted before the user name, and every
    // data connection was protected and resumed the control connection's session.
    QVERIFY(window.prompter->certificateQuestions.isEmpty());
    const QStringList commands = server->Commands();
    QCOMPARE(commands.filter(QRegularExpression("^AUTH SSL")).size(), 0);
    if (tls != TlsOffer::Implicit)
        QVERIFY(IndexOf(commands, "AUTH TLS") < IndexOf(commands, "USER") &&
                IndexOf(commands, "AUTH TLS") >= 0);
    QCOMPARE(commands.filter(QRegularExpression("^PROT P")).size(), server->Logins());
    QVERIFY2(server->ResumedTlsDataConnections() >= 3, qPrintable(commands.join(" | ")));
    QCOMPARE(server->NewTlsDataConnections(), 0);
}

void TlsTest::unverifiedCertificateIsAskedAbout_data() {
    QTest::addColumn<ServerKind>("kind");
    QTest::addColumn<TlsOffer>("tls");
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("reason");

    QTest::newRow("pyftpdlib, self-signed")
        << ServerKind::Pyftpdlib << TlsOffer::Explicit << m_certificates.SelfSigned(0) << "自签名";
    QTest::newRow("pyftpdlib, unknown issuer") << ServerKind::Pyftpdlib << TlsOffer::Explicit
                                               << m_certificates.Signed() << "签发者不受信任";
    QTest::newRow("proftpd, TLSRequired, self-signed")
        << ServerKind::Proftpd << TlsOffer::Required << m_certificates.SelfSigned(0) << "自签名";
}

void TlsTest::unverifiedCertificateIsAskedAbout() {
    QFETCH(ServerKind, kind);
    QFETCH(TlsOffer, tls);
    QFETCH(QString, certificate);
    QFETCH(QString, reason);
    auto server = Start(Options(kind, tls, certificate));
    server->WriteFile("a.txt", "a");
    WindowDriver window;
    ScriptedPrompter& prompter = *window.prompter;

    // 1. Cancel: the question came before any login, which fails and sends nothing.
    Connect(window, server->Address(), *server);
    QCOMPARE(prompter.messages, QStringList{"无法连接！"});
    QCOMPARE(prompter.certificateQuestions.size(), 1);
    const QString question = prompter.certificateQuestions[0];
    for (const QString& part : {server->Address(), reason, QStringLiteral("localhost"),
                                m_certificates.Sha256Fingerprint(certificate)})
        QVERIFY2(question.contains(part), qPrintable(part + " not in " + question));
    QCOMPARE(server->Logins(), 0);

    // 2. Trust: the command works, and so does the next one, with no question.
    prompter.trustAnswers << true;
    Connect(window, server->Address(), *server);
    QVERIFY(prompter.messages.last().startsWith("连接成功！"));
    window.Click(window.dlg.m_btnRefresh);
    QCOMPARE(prompter.messages.last(), "刷新成功！");
    QVERIFY(window.Lines().contains("a.txt"));
    QCOMPARE(prompter.certificateQuestions.size(), 2);
    QCOMPARE(server->Logins(), 2);

    // 3. Another certificate on the same port: a warning, no question, nothing sent.
    TestServerOptions replacement = Options(kind, tls, m_certificates.SelfSigned(1));
    replacement.port = server->Address().section(':', 1).toUShort();
    server.reset();
    server = Start(replacement);
    const int shown = prompter.messages.size();
    Connect(window, server->Address(), *server);
    QCOMPARE(prompter.messages.size(), shown + 2);
    QVERIFY(prompter.messages[shown].contains(server->Address()));
    QVERIFY(prompter.messages[shown].contains("不同"));
    QCOMPARE(prompter.messages.last(), "无法连接！");
    QCOMPARE(prompter.certificateQuestions.size(), 2);
    QCOMPARE(server->Logins(), 0);
}

void TlsTest::clearTextOnlyWhereAllowed_data() {
    QTest::addColumn<TlsOffer>("before"); // the same port earlier in the run
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("loggedIn");

    QTest::newRow("plain server, as always") << TlsOffer::None << "" << true;
    QTest::newRow("plain server behind ftpes") << TlsOffer::None << "ftpes://" << false;
    QTest::newRow("TLS stripped after a TLS login") << TlsOffer::Explicit << "" << false;
}

void TlsTest::clearTextOnlyWhereAllowed() {
    QFETCH(TlsOffer, before);
    QFETCH(QString, scheme);
    QFETCH(bool, loggedIn);
    WindowDriver window;
    window.dlg.SetTlsAuthority(m_certificates.Authority());
    TestServerOptions plainOptions;
    if (before != TlsOffer::None) {
        const auto earlier = Start(Options(ServerKind::Pyftpdlib, before, m_certificates.Signed()));
        Connect(window, earlier->Address(), *earlier);
        QVERIFY(window.prompter->messages.last().startsWith("连接成功！"));
        plainOptions.port = earlier->Address().section(':', 1).toUShort();
    }
    const auto plain = Start(plainOptions);
    plain->WriteFile("a.txt", "a");

    Connect(window, scheme + plain->Address(), *plain);
    QCOMPARE(window.prompter->messages.last(),
             loggedIn ? "连接成功！" + scheme + plain->Address() : "无法连接！");
    QCOMPARE(plain->Logins(), loggedIn ? 1 : 0);
    QCOMPARE(window.Lines(), loggedIn ? QStringList{"a.txt"} : QStringList());
    QVERIFY(window.prompter->certificateQuestions.isEmpty());
    // Clear text keeps active data connections.
    if (loggedIn)
        QVERIFY(IndexOf(plain->Commands(), "EPRT") >= 0 || IndexOf(plain->Commands(), "PORT") >= 0);
}

void TlsTest::cancelledTransferLeavesNoFile_data() {
    QTest::addColumn<TlsOffer>("tls");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QString>("encryption");

    QTest::newRow("TLS download") << TlsOffer::Explicit << false << "已加密（TLS 1.2）";
    QTest::newRow("TLS upload") << TlsOffer::Explicit << true << "已加密（TLS 1.2）";
    QTest::newRow("clear-text download") << TlsOffer::None << false << "未加密";
}

void TlsTest::cancelledTransferLeavesNoFile() {
    QFETCH(TlsOffer, tls);
    QFETCH(bool, upload);
    constexpr int kThrottle = 256 * 1024;
    TestServerOptions options = Options(ServerKind::Pyftpdlib, tls, m_certificates.Signed());
    options.throttle = kThrottle;
    const auto server = Start(options);
    server->WriteFile("big.bin", QByteArray(16 * kThrottle, 'b'));
    WindowDriver window;
    window.dlg.SetTlsAuthority(m_certificates.Authority());
    Connect(window, server->Address(), *server);
    const QString local = m_local->filePath("big.bin");
    if (upload) {
        WriteLocal(local, QByteArray(16 * kThrottle, 'u'));
        window.prompter->openAnswers << local;
    } else {
        window.ClickLine("big.bin");
        window.prompter->saveAnswers << local;
    }

    // The progress window says how the connection is protected; Cancel ends the transfer.
    QString encryption;
    AnswerNextModal([&encryption](QWidget* modal) {
        if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
            QTest::qWait(300);
            progress->Refresh();
            encryption = progress->Encryption();
            progress->CancelButton()->click();
        }
    });
    window.Click(upload ? window.dlg.m_btnUpload : window.dlg.m_btnDownload);
    QTEST(encryption, "encryption");
    QCOMPARE(window.prompter->messages.last(), upload ? "上传失败！" : "下载失败!");
    QCOMPARE(QFile::exists(local), upload);
    QCOMPARE(QDir(server->Root()).entryList(QDir::Files | QDir::Hidden), QStringList{"big.bin"});
    QVERIFY(server->ReadFile("big.bin") == QByteArray(16 * kThrottle, 'b'));
}

void TlsTest::cutOffUploadIsAFailure_data() {
    QTest::addColumn<TlsOffer>("tls");

    QTest::newRow("TLS") << TlsOffer::Explicit;
    QTest::newRow("clear text") << TlsOffer::None;
}

void TlsTest::cutOffUploadIsAFailure() {
    // The server acknowledges uploads it cut off, as some do over TLS 1.3.
    QFETCH(TlsOffer, tls);
    TestServerOptions options = Options(ServerKind::Pyftpdlib, tls, m_certificates.Signed());
    options.cutUploadsAt = 100 * 1024;
    const auto server = Start(options);
    server->WriteFile("keep.bin", "old content");
    WindowDriver window;
    window.dlg.SetTlsAuthority(m_certificates.Authority());
    window.LogInTo(*server);
    const QString upload = m_local->filePath("keep.bin");
    WriteLocal(upload, RandomBytes(kMiB));
    window.prompter->openAnswers << upload;
    window.Click(window.dlg.m_btnUpload);
    QCOMPARE(window.prompter->messages.last(), "上传失败！");
    QCOMPARE(server->ReadFile("keep.bin"), QByteArray("old content"));
    QCOMPARE(QDir(server->Root()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.bin"});
}

void TlsTest::trustQuestionDefaultsToCancel_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("Enter") << "Enter" << false;
    QTest::newRow("Escape") << "Escape" << false;
    QTest::newRow("close box") << "close" << false;
    QTest::newRow("trust button") << "trust" << true;
}

void TlsTest::trustQuestionDefaultsToCancel() {
    QFETCH(QString, answer);
    QWidget owner;
    owner.show();
    AnswerNextModal([answer](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        if (answer == "trust")
            box->buttons().constFirst()->click();
        else if (answer == "close")
            box->close();
        else
            QTest::keyClick(box, answer == "Enter" ? Qt::Key_Return : Qt::Key_Escape);
    });
    QtPrompter prompter;
    QTEST(prompter.AskToTrustCertificate(&owner, QStringLiteral("?")), "trusted");
}

QTEST_MAIN(TlsTest)
#include "tst_tls.moc"
