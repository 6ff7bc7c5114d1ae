// FTP over TLS at the FTP layer: verified round trips on the real servers; on the scripted one,
// which can refuse AUTH on chosen connections, drop the line or show other keys, no login goes
// to a server not trusted, nor in clear once it spoke TLS.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "listing/ServerAddress.h"
#include "support/HostileServer.h"
#include "support/TestCertificates.h"
#include "support/TestServer.h"

#include <QtTest>
#include <thread>

namespace {

// OpenSSL defaults as loose as a system may have them: the program must not rely on stricter.
constexpr char kLooseOpenssl[] = "openssl_conf = c\n[c]\nssl_conf = s\n[s]\nsystem_default = d\n"
                                 "[d]\nMinProtocol = TLSv1\nCipherString = ALL:@SECLEVEL=0\n";

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "";
}

} // namespace

class FtpTlsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrips_data();
    void roundTrips();
    void refused_data();
    void refused();
    void certificateFactsAreTrue_data();
    void certificateFactsAreTrue();

private:
    QTemporaryDir m_dir;
    TestCertificates m_certificates;
};

void FtpTlsTest::initTestCase() {
    // Read as libcurl starts.
    QFile loose(m_dir.filePath("openssl.cnf"));
    QVERIFY(loose.open(QIODevice::WriteOnly) && loose.write(kLooseOpenssl) > 0);
    loose.close();
    qputenv("OPENSSL_CONF", QFile::encodeName(loose.fileName()));
    qputenv("SSLKEYLOGFILE", QFile::encodeName(m_dir.filePath("keys.log")));
    QString error;
    QVERIFY2(m_certificates.Generate(error), qPrintable(error));
}

void FtpTlsTest::roundTrips_data() {
    QTest::addColumn<ServerKind>("kind");
    QTest::addColumn<TlsOffer>("tls");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("cutUploadsAt");
    const auto py = ServerKind::Pyftpdlib, proftpd = ServerKind::Proftpd;
    QTest::newRow("pyftpdlib explicit") << py << TlsOffer::Explicit << "" << 0;
    QTest::newRow("pyftpdlib required") << py << TlsOffer::Required << "ftpes://" << 0;
    QTest::newRow("pyftpdlib implicit") << py << TlsOffer::Implicit << "ftps://" << 0;
    QTest::newRow("proftpd explicit") << proftpd << TlsOffer::Explicit << "ftp://" << 0;
    QTest::newRow("proftpd required") << proftpd << TlsOffer::Required << "" << 0;
    QTest::newRow("upload cut short") << py << TlsOffer::Explicit << "" << 102400;
}

// Download and upload byte for byte, all encrypted; a cut upload keeps the old file.
void FtpTlsTest::roundTrips() {
    TestServerOptions options;
    QFETCH(int, cutUploadsAt);
    QFETCH(ServerKind, kind);
    QFETCH(TlsOffer, tls);
    options.kind = kind;
    options.tls = tls;
    options.certificate = m_certificates.Signed();
    options.cutUploadsAt = cutUploadsAt;
    TestServer server(options);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    QByteArray content(1 << 20, Qt::Uninitialized);
    QRandomGenerator(16).fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
    server.WriteFile("down.bin", content);
    server.WriteFile("up.bin", "old");
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    TransferMonitor monitor;
    CInternetSession session({}, &monitor, &trust);
    QFETCH(QString, scheme);
    const auto connection = session.GetFtpConnection(scheme + server.Address(), "tolmi", "secret");
    QVERIFY(monitor.TlsMinorVersion() >= 2);
    const QTemporaryDir local;
    QVERIFY(connection->GetFile("down.bin", local.filePath("f")));
    QCOMPARE(Read(local.filePath("f")), content);
    QCOMPARE(bool(connection->PutFile(local.filePath("f"), "up.bin")), cutUploadsAt == 0);
    QCOMPARE(Read(server.Root() + "/up.bin"), cutUploadsAt == 0 ? content : "old");
    QCOMPARE(QDir(server.Root()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    QVERIFY(server.ResumedTlsDataConnections() + server.NewTlsDataConnections() >= 2);
    QVERIFY(!QFile::exists(m_dir.filePath("keys.log")));
}

void FtpTlsTest::refused_data() {
    for (const char* column : {"scenario", "address", "step"})
        QTest::addColumn<QString>(column);
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("pinned");  // the key of SelfSigned(0) trusted beforehand
    QTest::addColumn<int>("attempts"); // logins before the step, whatever their outcome
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("users"); // USER commands received, all encrypted; %1: the port
    const QString self0 = m_certificates.SelfSigned(0), self1 = m_certificates.SelfSigned(1);
    // AUTH works on the first connection, then is refused.
    const QStringList once{"--tls", "--tls-cert", m_certificates.Signed(), "--tls-connections",
                           "1"};
    const auto row = [](const char* name, const char* scenario, const QStringList& options,
                        bool pinned, int attempts, const char* step, FtpReason reason, int users,
                        const char* address = "127.0.0.1:%1") {
        QTest::newRow(name) << scenario << address << step << options << pinned << attempts
                            << reason << users;
    };
    using R = FtpReason;
    // A trusted key holds for every spelling of the address.
    for (const char* address : {"127.000.000.001:%1", "127.1:%1"})
        row(address, "good", {"--tls", "--tls-cert", self0}, true, 0, "login", R::Done, 1, address);
    // The login meets a certificate not trusted; the probe finds a silent server, and a cancel.
    row("cancel during the probe", "later_connections_silent", {"--tls", "--tls-cert", self0},
        false, 0, "login cancelled", R::CertificateNotTrusted, 0);
    // The login's connection and the certificate probe's speak TLS, later ones no longer.
    row("not trusted, retry", "good", {"--tls", "--tls-cert", self0, "--tls-connections", "2"},
        false, 1, "login", R::NotEncrypted, 0);
    row("changed", "good", {"--tls", "--tls-cert", self1}, true, 0, "login", R::CertificateChanged,
        0);
    // No certificate: a pinned key would go unchecked.
    row("anonymous suite", "good", {"--tls"}, true, 0, "login", R::BadReply, 0);
    row("ftpes:// to a plain server", "good", {}, false, 0, "login", R::NotEncrypted, 0,
        "ftpes://127.0.0.1:%1");
    row("no TLS after a TLS login", "good", once, false, 1, "login", R::NotEncrypted, 1);
    row("wrong password, retry", "wrong_password_first", once, false, 1, "login", R::NotEncrypted,
        1);
    row("reset after handshake, retry", "reset_after_handshake", once, false, 1, "login",
        R::NotEncrypted, 0);
    row("MLSD refused, LIST", "no_mlsd", once, false, 0, "list", R::NotEncrypted, 1);
    row("line dropped, next request", "close_after_login", once, false, 0, "list", R::NotEncrypted,
        1);
    row("upload cut, clean-up", "close_on_stor", once, false, 0, "upload", R::CutOff, 1);
    row("other key on a data connection", "good",
        {"--tls", "--tls-cert", self0, "--tls-data-cert", self1}, true, 0, "list",
        R::CertificateChanged, 1);
}

void FtpTlsTest::refused() {
    QFETCH(QString, scenario);
    QFETCH(QStringList, options);
    QFETCH(QString, address);
    QFETCH(int, attempts);
    QFETCH(QString, step);
    HostileServer server(scenario, "good", options);
    QString error;
    QVERIFY2(server.Start(error), qPrintable(error));
    TlsTrust trust;
    trust.SetAuthorityFile(m_certificates.Authority());
    QFile self0(m_certificates.SelfSigned(0));
    QVERIFY(self0.open(QIODevice::ReadOnly));
    QFETCH(bool, pinned);
    if (pinned)
        trust.Pin(ServerAddress::Parse(server.Address(), 21)->Key(),
                  ServerCertificate::FromPem(self0.readAll())->publicKeyPin);
    TransferMonitor monitor;
    const CInternetSession session({}, &monitor, &trust);
    const QString port = server.Address().section(':', 1);
    const auto connect = [&] { return session.GetFtpConnection(address.arg(port), "u", "p"); };
    std::thread cancel;
    if (step.endsWith("cancelled"))
        cancel = std::thread([&monitor] {
            QThread::msleep(1000);
            monitor.Cancel();
        });
    QElapsedTimer elapsed;
    elapsed.start();
    for (int attempt = 0; attempt < attempts; ++attempt) {
        try {
            connect();
        } catch (const CInternetException&) {
        }
    }
    FtpResult result;
    try {
        const auto connection = connect();
        // The window shows its message meanwhile: the line may drop.
        QTest::qWait(step == "login" ? 0 : 500);
        std::vector<RemoteEntry> entries;
        if (step == "list")
            result = connection->ReadDirectory(entries);
        if (step == "upload")
            result = connection->PutFile(self0.fileName(), "up.txt");
    } catch (const CInternetException& failure) {
        result = failure.m_result;
    }
    if (cancel.joinable())
        cancel.join();
    QCOMPARE_LT(elapsed.elapsed(), 10000);
    // A key refused on a data connection may end the handshake on either side.
    if (!options.contains("--tls-data-cert") || result.Reason() != FtpReason::BadReply)
        QTEST(result.Reason(), "reason");
    const QStringList commands = server.Commands();
    QTEST(int(commands.filter(QRegularExpression("USER")).size()), "users");
    QVERIFY(commands.filter(QRegularExpression("^clear: (USER|PASS)")).isEmpty());
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

QTEST_GUILESS_MAIN(FtpTlsTest)
#include "tst_ftp_tls.moc"
