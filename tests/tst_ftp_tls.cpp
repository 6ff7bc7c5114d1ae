// FTP over TLS at the FTP layer against the scripted server, which can refuse AUTH on chosen
// connections, drop the line or offer weak TLS: a server that spoke TLS is never sent a login
// in clear, and weak TLS, an intruder on a data port and a key log are refused.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "listing/ServerAddress.h"
#include "support/HostileServer.h"
#include "support/TestCertificates.h"

#include <QtTest>
#include <future>

namespace {

// OpenSSL defaults as loose as a system may have them: the program must not rely on stricter.
constexpr char kLooseOpenssl[] = "openssl_conf = c\n[c]\nssl_conf = s\n[s]\nsystem_default = d\n"
                                 "[d]\nMinProtocol = TLSv1\nCipherString = ALL:@SECLEVEL=0\n";

QByteArray KeyOf(const QString& server) {
    return ServerAddress::Parse(server, 21)->Key();
}

} // namespace

class FtpTlsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void noClearLoginOnceTlsWasSpoken_data();
    void noClearLoginOnceTlsWasSpoken();
    void weakTlsIsRefused_data();
    void weakTlsIsRefused();
    void sessionKeysStayInTheProcess();
    void activeDataOnlyFromTheServer();
    void certificateFactsAreTrue_data();
    void certificateFactsAreTrue();
    void trustHoldsForEverySpelling_data();
    void trustHoldsForEverySpelling();
    void cancelEndsTheProbe();

private:
    QTemporaryDir m_dir;
    TestCertificates m_certificates;
};

void FtpTlsTest::initTestCase() {
    // Both are read when libcurl starts, with the first session.
    QFile loose(m_dir.filePath("openssl.cnf"));
    QVERIFY(loose.open(QIODevice::WriteOnly) && loose.write(kLooseOpenssl) > 0);
    loose.close();
    qputenv("OPENSSL_CONF", QFile::encodeName(loose.fileName()));
    qputenv("SSLKEYLOGFILE", QFile::encodeName(m_dir.filePath("keys.log")));
    QString error;
    QVERIFY2(m_certificates.Generate(error), qPrintable(error));
}

void FtpTlsTest::noClearLoginOnceTlsWasSpoken_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("verifies");
    QTest::addColumn<QString>("step");
    QTest::newRow("MLSD refused, LIST") << "no_mlsd" << true << "list";
    QTest::newRow("line dropped, next request") << "close_after_login" << true << "list";
    QTest::newRow("upload cut, clean-up") << "close_on_stor" << true << "upload";
    QTest::newRow("wrong password, retry") << "wrong_password_first" << true << "login";
    QTest::newRow("reset after handshake, retry") << "reset_after_handshake" << true << "login";
    QTest::newRow("certificate not trusted, retry") << "good" << false << "login";
}

void FtpTlsTest::noClearLoginOnceTlsWasSpoken() {
    QFETCH(QString, scenario);
    QFETCH(bool, verifies);
    QFETCH(QString, step);
    // AUTH works on the first connection (and the certificate probe's), then is stripped.
    const QString tlsConnections = verifies ? "1" : "2";
    HostileServer server(scenario, "good",
                         {"--tls", "--tls-connections", tlsConnections, "--tls-cert",
                          verifies ? m_certificates.Signed() : m_certificates.SelfSigned(0)});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    CInternetSession session({}, nullptr, &trust);
    const auto connect = [&] { return session.GetFtpConnection(server.Address(), "u", "p"); };
    if (step == "login") {
        QVERIFY_THROWS_EXCEPTION(CInternetException, connect());
        QVERIFY_THROWS_EXCEPTION(CInternetException, connect());
    } else {
        const auto connection = connect();
        // The window shows its message meanwhile: a line may drop.
        QTest::qWait(500);
        std::vector<RemoteEntry> entries;
        const QString file = m_dir.filePath("up.txt");
        QFile(file).open(QIODevice::WriteOnly);
        QVERIFY(!(step == "list" ? connection->ReadDirectory(entries)
                                 : connection->PutFile(file, "up.txt")));
    }
    const QStringList commands = server.Commands();
    QVERIFY2(commands.filter(QRegularExpression("^clear: (USER|PASS)")).isEmpty(),
             qPrintable(commands.join('|')));
    // Some later connection was tried and found without TLS.
    QVERIFY(commands.count("clear: AUTH TLS") > (verifies ? 1 : 2));
}

void FtpTlsTest::weakTlsIsRefused_data() {
    QTest::addColumn<QString>("version");
    QTest::newRow("TLS 1.1") << "TLSv1_1";
    // No certificate: a pinned key would go unchecked.
    QTest::newRow("anonymous suite") << QString();
}

void FtpTlsTest::weakTlsIsRefused() {
    QFETCH(QString, version);
    const QStringList options =
        version.isEmpty()
            ? QStringList{"--tls"}
            : QStringList{"--tls", "--tls-version", version, "--tls-cert", m_certificates.Signed()};
    HostileServer server("good", "good", options);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    if (version.isEmpty())
        trust.Pin(KeyOf(server.Address()), "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    CInternetSession session({}, nullptr, &trust);
    QVERIFY_THROWS_EXCEPTION(CInternetException,
                             session.GetFtpConnection(server.Address(), "u", "p"));
    QVERIFY(server.Commands().filter("USER").isEmpty());
}

void FtpTlsTest::sessionKeysStayInTheProcess() {
    HostileServer server("good", "good", {"--tls", "--tls-cert", m_certificates.Signed()});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    CInternetSession session({}, nullptr, &trust);
    QVERIFY(session.GetFtpConnection(server.Address(), "u", "p"));
    QVERIFY(server.Commands().contains("USER u"));
    QVERIFY(!QFile::exists(m_dir.filePath("keys.log")));
}

void FtpTlsTest::activeDataOnlyFromTheServer() {
    // The server's data connection comes second, after another host's on 127.0.0.2.
    HostileServer server("data_from_elsewhere", "good");
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    CInternetSession session;
    const auto connection = session.GetFtpConnection(server.Address(), "u", "p");
    std::vector<RemoteEntry> entries;
    QVERIFY(!connection->ReadDirectory(entries));
    QVERIFY(entries.empty());
    QVERIFY(!server.Commands().filter("EPRT").isEmpty());
}

void FtpTlsTest::certificateFactsAreTrue_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<CertificateProblem>("problem");
    QTest::newRow("valid chain, other name")
        << m_certificates.SignedForOtherName() << CertificateProblem::WrongName;
    QTest::newRow("self-signed") << m_certificates.SelfSigned(0) << CertificateProblem::SelfSigned;
    QTest::newRow("line break in subject")
        << m_certificates.LineBreakInSubject() << CertificateProblem::SelfSigned;
}

void FtpTlsTest::certificateFactsAreTrue() {
    QFETCH(QString, certificate);
    HostileServer server("good", "good", {"--tls", "--tls-cert", certificate});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    CInternetSession session({}, nullptr, &trust);
    try {
        session.GetFtpConnection(server.Address(), "u", "p");
        QFAIL("logged in");
    } catch (const CInternetException& failure) {
        QVERIFY(failure.m_certificate);
        QTEST(failure.m_certificate->problem, "problem");
        const QString fields = failure.m_certificate->subject + failure.m_certificate->issuer;
        QVERIFY2(!fields.contains(QRegularExpression("[\\x00-\\x1f]")), qPrintable(fields));
        QVERIFY(fields.contains("forged line") == certificate.endsWith("break.pem"));
    }
}

void FtpTlsTest::trustHoldsForEverySpelling_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    // Names resolve only in their usual form here: the addresses' forms stand for them.
    QTest::newRow("octal") << "127.0.0.1"
                           << "127.000.000.001";
    QTest::newRow("short") << "127.000.000.001"
                           << "127.1";
}

void FtpTlsTest::trustHoldsForEverySpelling() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    HostileServer server("good", "good", {"--tls", "--tls-cert", m_certificates.SelfSigned(0)});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    const QString port = server.Address().section(':', 1);
    TlsTrust trust;
    CInternetSession session({}, nullptr, &trust);
    try {
        session.GetFtpConnection(first + ":" + port, "u", "p");
        QFAIL("logged in");
    } catch (const CInternetException& failure) {
        QVERIFY(failure.m_certificate);
        trust.Pin(failure.m_certificate->server, failure.m_certificate->publicKeyPin);
    }
    QVERIFY_THROWS_NO_EXCEPTION(session.GetFtpConnection(second + ":" + port, "u", "p"));
}

void FtpTlsTest::cancelEndsTheProbe() {
    // The login meets a certificate that does not verify; the probe then finds a silent server.
    HostileServer server("later_connections_silent", "good",
                         {"--tls", "--tls-cert", m_certificates.SelfSigned(0), "--hang", "60"});
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TransferMonitor monitor;
    CInternetSession session({60000, 60000, 60000, 60000}, &monitor);
    auto login = std::async(std::launch::async, [&] {
        try {
            return session.GetFtpConnection(server.Address(), "u", "p") != nullptr;
        } catch (const CInternetException&) {
            return false;
        }
    });
    QTRY_VERIFY(server.Commands().contains("clear: AUTH TLS"));
    monitor.Cancel();
    QVERIFY(login.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QVERIFY(!login.get());
}

QTEST_GUILESS_MAIN(FtpTlsTest)
#include "tst_ftp_tls.moc"
