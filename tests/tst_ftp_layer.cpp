// The FTP layer against a real server; the server kind comes from TOLMI_TEST_SERVER.
#include "ftp/CFtpConnection.h"
#include "ftp/CFtpFileFind.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "tests/support/LocalFiles.h"
#include "tests/support/TestServer.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>
#include <arpa/inet.h>
#include <curl/curl.h>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Listing = std::map<QByteArray, bool>; // raw name -> is a directory

QByteArray AllByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes + "\r\n\n\r\r\n" + bytes;
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

class FtpLayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void logsInAndRefusesBadLogins();
    void emptyLoginNameLogsInAsAnonymous();
    void refusesLineBreaksBeforeSendingAnything_data();
    void refusesLineBreaksBeforeSendingAnything();
    void silentServerTimesOut();

    void listsEveryEntryWithItsKind();
    void listsWithMlsdOrFallsBackToList();
    void entersSubdirectoriesAndRefusesMissingOnes();

    void roundTripsContentByteForByte_data();
    void roundTripsContentByteForByte();
    void transfersAwkwardNames_data();
    void transfersAwkwardNames();
    void gbkNamesRoundTrip();
    void neverOverwritesOrLeavesPartialLocalFiles();
    void uploadOfUnreadableLocalFileFails();
    void fallsBackToPassiveWhenActiveIsRefused();

private:
    std::unique_ptr<CFtpConnection> Login() const;
    Listing List(CFtpConnection& connection) const;

    std::unique_ptr<TestServer> m_server;
    QTemporaryDir m_local;
};

void FtpLayerTest::initTestCase() {
    m_server = std::make_unique<TestServer>(TestServerOptions{TestServer::KindFromEnvironment()});
    m_server->MakeDirectory("docs/sub");
    m_server->WriteFile("docs/inner.txt", "inner");
    m_server->WriteFile("top.txt", "top");
    m_server->WriteFile("with space.txt", "space");
    m_server->WriteFile("中文名.txt", "chinese");
    m_server->WriteFile("%#?;type=a.txt", "punctuation");
    m_server->WriteFile("[bracket].txt", "bracket");
    m_server->MakeDirectory("目录 with space");
    QString error;
    QVERIFY2(m_server->Start(error), qPrintable(error));
}

std::unique_ptr<CFtpConnection> FtpLayerTest::Login() const {
    return CInternetSession().GetFtpConnection(m_server->Address(), m_server->User(),
                                               m_server->Password());
}

Listing FtpLayerTest::List(CFtpConnection& connection) const {
    Listing listing;
    CFtpFileFind finder(&connection);
    bool working = finder.FindFile();
    while (working) {
        working = finder.FindNextFile();
        const QByteArray name = finder.GetRawFileName();
        if (name != "." && name != "..")
            listing[name] = finder.MatchesMask(FILE_ATTRIBUTE_DIRECTORY);
    }
    return listing;
}

void FtpLayerTest::logsInAndRefusesBadLogins() {
    QVERIFY(Login() != nullptr);

    const CInternetSession session;
    auto failsWith = [&](const QString& server, const QString& password, int expected) {
        try {
            session.GetFtpConnection(server, m_server->User(), password);
        } catch (const CInternetException& e) {
            return e.m_dwError == expected;
        }
        return false;
    };
    QVERIFY(failsWith(m_server->Address(), "wrong", CURLE_LOGIN_DENIED));
    QVERIFY(failsWith("", m_server->Password(), CURLE_COULDNT_RESOLVE_HOST));
    QVERIFY(failsWith("127.0.0.1:0", m_server->Password(), CURLE_COULDNT_RESOLVE_HOST));
    QVERIFY(failsWith(QStringLiteral("127.0.0.1:%1").arg(FreeLoopbackPort()), m_server->Password(),
                      CURLE_COULDNT_CONNECT));
}

void FtpLayerTest::emptyLoginNameLogsInAsAnonymous() {
    if (m_server->Kind() == ServerKind::Proftpd)
        QSKIP("the proftpd set-up has no anonymous account");
    TestServer anonymous({m_server->Kind(), false, true});
    QString error;
    QVERIFY2(anonymous.Start(error), qPrintable(error));
    auto connection = CInternetSession().GetFtpConnection(anonymous.Address(), "", "");
    QVERIFY(connection);
    QVERIFY(anonymous.Commands().contains("USER anonymous"));
    // The main server knows no anonymous user.
    QVERIFY_THROWS_EXCEPTION(CInternetException,
                             CInternetSession().GetFtpConnection(m_server->Address(), "", ""));
}

void FtpLayerTest::refusesLineBreaksBeforeSendingAnything_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("bad");
    const QStringList bads = {"x\r\nDELE top.txt", "x\nDELE top.txt", QString("x") + QChar(0)};
    for (int field = 0; field < 3; ++field) {
        for (int i = 0; i < bads.size(); ++i)
            QTest::addRow("field %d, text %d", field, i) << field << bads[i];
    }
}

void FtpLayerTest::refusesLineBreaksBeforeSendingAnything() {
    QFETCH(int, field);
    QFETCH(QString, bad);
    const int before = m_server->Commands().size();
    QStringList fields = {m_server->Address(), m_server->User(), m_server->Password()};
    fields[field] = field == 0 ? fields[0] + bad : fields[field] + bad;
    try {
        CInternetSession().GetFtpConnection(fields[0], fields[1], fields[2]);
        QFAIL("a field with a line break was accepted");
    } catch (const CInternetException& e) {
        QCOMPARE(e.m_dwError, CInternetException::kRefusedInput);
    }
    QCOMPARE(m_server->Commands().size(), before);
    QVERIFY(QFile::exists(m_server->Root() + "/top.txt"));
}

void FtpLayerTest::silentServerTimesOut() {
    // A listening socket that is never accepted: the connection opens, no greeting comes.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(fd, 4), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);

    FtpTimeouts timeouts;
    timeouts.connectMs = timeouts.responseMs = timeouts.stallMs = 1000;
    QElapsedTimer timer;
    timer.start();
    QVERIFY_THROWS_EXCEPTION(
        CInternetException,
        CInternetSession(timeouts).GetFtpConnection(
            QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port)), "u", "p"));
    QVERIFY2(timer.elapsed() < 10000, "the login waited far longer than its timeout");
    ::close(fd);
}

void FtpLayerTest::listsEveryEntryWithItsKind() {
    auto connection = Login();
    const Listing expected = {
        {"docs", true},
        {"top.txt", false},
        {"with space.txt", false},
        {"中文名.txt", false},
        {"%#?;type=a.txt", false},
        {"[bracket].txt", false},
        {"目录 with space", true},
    };
    QCOMPARE(List(*connection), expected);
}

void FtpLayerTest::listsWithMlsdOrFallsBackToList() {
    auto connection = Login();
    List(*connection);
    List(*connection);
    const QStringList commands = m_server->Commands();
    const bool listOnly = m_server->Kind() == ServerKind::PyftpdlibListOnly;
    QCOMPARE(commands.contains("LIST") || commands.contains("LIST -a"), listOnly);
    QVERIFY(commands.contains("MLSD"));
    if (listOnly) {
        // Asked once per connection, not once per listing.
        const qsizetype last = commands.lastIndexOf("MLSD");
        QCOMPARE(commands.mid(last).count("LIST"), 2);
    }
}

void FtpLayerTest::entersSubdirectoriesAndRefusesMissingOnes() {
    auto connection = Login();
    const RemotePath docs = RemotePath().Child("docs");
    QVERIFY(connection->SetCurrentDirectory(docs));
    QCOMPARE(List(*connection), (Listing{{"inner.txt", false}, {"sub", true}}));

    QVERIFY(!connection->SetCurrentDirectory(docs.Child("missing")));
    QCOMPARE(connection->GetCurrentDirectory(), docs);
    QVERIFY(!connection->SetCurrentDirectory(RemotePath().Child("top.txt")));

    QVERIFY(connection->SetCurrentDirectory(docs.Child("sub").Child("..")));
    QCOMPARE(List(*connection), (Listing{{"inner.txt", false}, {"sub", true}}));
    QVERIFY(connection->SetCurrentDirectory(RemotePath().Child("目录 with space")));
    QCOMPARE(List(*connection), Listing{});
}

void FtpLayerTest::roundTripsContentByteForByte_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("every byte value and line ends") << AllByteValues();
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("24 MiB") << RandomBytes(24 * 1024 * 1024);
}

void FtpLayerTest::roundTripsContentByteForByte() {
    QFETCH(QByteArray, content);
    const QString source = m_local.filePath("source.bin");
    const QString target = m_local.filePath("target.bin");
    QFile::remove(target);
    WriteLocal(source, content);

    auto connection = Login();
    QVERIFY(connection->PutFile(source, "round.bin"));
    QVERIFY(m_server->ReadFile("round.bin") == content);
    QVERIFY(connection->GetFile("round.bin", target));
    QVERIFY(ReadLocal(target) == content);
}

void FtpLayerTest::transfersAwkwardNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("spaces") << QByteArray("with space.txt");
    QTest::newRow("chinese") << QByteArray("中文名.txt");
    QTest::newRow("url characters") << QByteArray("%#?;type=a.txt");
    QTest::newRow("leading bracket") << QByteArray("[bracket].txt");
}

void FtpLayerTest::transfersAwkwardNames() {
    QFETCH(QByteArray, name);
    auto connection = Login();
    const QString target = m_local.filePath("awkward");
    QFile::remove(target);
    QVERIFY(connection->GetFile(name, target));
    QCOMPARE(ReadLocal(target), m_server->ReadFile(QString::fromUtf8(name)));

    const QByteArray uploaded = "up " + name;
    QVERIFY(connection->PutFile(target, uploaded));
    QCOMPARE(m_server->ReadFile(QString::fromUtf8(uploaded)), ReadLocal(target));
}

void FtpLayerTest::gbkNamesRoundTrip() {
    if (m_server->Kind() != ServerKind::Proftpd)
        QSKIP("pyftpdlib cannot serve names that are not UTF-8");
    const QByteArray gbkName = "\xd6\xd0\xce\xc4.txt"; // 中文.txt in GBK
    {
        const QByteArray path = QFile::encodeName(m_server->Root()) + "/" + gbkName;
        FILE* raw = std::fopen(path.constData(), "wb");
        QVERIFY(raw);
        std::fputs("gbk", raw);
        std::fclose(raw);
    }
    auto connection = Login();
    CFtpFileFind finder(connection.get());
    bool working = finder.FindFile();
    bool seen = false;
    while (working) {
        working = finder.FindNextFile();
        if (finder.GetRawFileName() == gbkName) {
            seen = true;
            QCOMPARE(finder.GetFileName(), QString("中文.txt"));
        }
    }
    QVERIFY(seen);
    const QString target = m_local.filePath("gbk");
    QFile::remove(target);
    QVERIFY(connection->GetFile(gbkName, target));
    QCOMPARE(ReadLocal(target), QByteArray("gbk"));
}

void FtpLayerTest::neverOverwritesOrLeavesPartialLocalFiles() {
    auto connection = Login();
    const QString existing = m_local.filePath("existing.txt");
    WriteLocal(existing, "keep me");
    QVERIFY(!connection->GetFile("top.txt", existing));
    QCOMPARE(ReadLocal(existing), QByteArray("keep me"));

    const QString missing = m_local.filePath("from-missing.txt");
    QVERIFY(!connection->GetFile("no such file", missing));
    QVERIFY(!QFile::exists(missing));

    const QString unwritable = m_local.filePath("no/such/folder/file.txt");
    QVERIFY(!connection->GetFile("top.txt", unwritable));
    // The connection is still usable after the failures.
    const QString fine = m_local.filePath("fine.txt");
    QFile::remove(fine);
    QVERIFY(connection->GetFile("top.txt", fine));
    QCOMPARE(ReadLocal(fine), QByteArray("top"));
}

void FtpLayerTest::uploadOfUnreadableLocalFileFails() {
    auto connection = Login();
    QVERIFY(!connection->PutFile(m_local.filePath("vanished.txt"), "vanished.txt"));
    QVERIFY(!connection->PutFile(m_local.path(), "a-folder"));
    QVERIFY(!QFile::exists(m_server->Root() + "/vanished.txt"));
    QVERIFY(!connection->PutFile(m_local.filePath("source.bin"), "bad\r\nDELE top.txt"));
    QVERIFY(QFile::exists(m_server->Root() + "/top.txt"));
}

void FtpLayerTest::fallsBackToPassiveWhenActiveIsRefused() {
    if (m_server->Kind() == ServerKind::Proftpd)
        QSKIP("the refusing server is a pyftpdlib variant");
    TestServer refusing({m_server->Kind(), true, false});
    refusing.WriteFile("file.txt", "passive");
    QString error;
    QVERIFY2(refusing.Start(error), qPrintable(error));
    auto connection = CInternetSession().GetFtpConnection(refusing.Address(), refusing.User(),
                                                          refusing.Password());
    QCOMPARE(List(*connection), (Listing{{"file.txt", false}}));
    const QString target = m_local.filePath("passive.txt");
    QFile::remove(target);
    QVERIFY(connection->GetFile("file.txt", target));
    QCOMPARE(ReadLocal(target), QByteArray("passive"));
    const QStringList commands = refusing.Commands();
    QVERIFY(commands.filter(QRegularExpression("^(EPRT|PORT) ")).size() >= 1);
    QVERIFY(commands.contains("EPSV") || commands.contains("PASV"));
}

QTEST_GUILESS_MAIN(FtpLayerTest)
#include "tst_ftp_layer.moc"
