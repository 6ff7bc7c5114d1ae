// The FTP layer against real and scripted servers, in clear and over TLS: each step's result,
// what the server received, the files left on either side, how long a wait lasts.
#include "ftp/CFtpConnection.h"
#include "ftp/CInternetException.h"
#include "ftp/CInternetSession.h"
#include "listing/ServerAddress.h"
#include "support/TestCertificates.h"
#include "support/TestServer.h"

#include <QtTest>
#include <thread>
#include <unistd.h>

namespace {

int Count(const QStringList& commands, const QString& pattern) {
    return int(commands.filter(QRegularExpression(pattern)).size());
}

// One step (login, list, download, upload) on a session of its own, as each window command has.
// Downloads go to "got" in `local`, uploads come from "up".
struct Step {
    QTemporaryDir local;
    TransferMonitor monitor;
    MlsdSupport mlsd;
    TlsTrust trust; // what the run learnt, kept from step to step
    FtpTimeouts timeouts;
    std::vector<RemoteEntry> entries;
    std::optional<ServerCertificate> certificate; // of a login refused for it
    QString dir;           // where the step happens, below the login directory
    int cancelAfterMs = 0; // 0: no cancel
    int pauseMs = 0;       // after the login, as while the window shows its message
    qint64 elapsedMs = 0;

    FtpResult Run(const QString& server, const QString& step, const QByteArray& name = "a.txt",
                  const QString& user = "tolmi", const QString& password = "secret") {
        const CInternetSession session(timeouts, &monitor, &trust, &mlsd);
        std::thread cancel([this] {
            QThread::msleep(cancelAfterMs);
            if (cancelAfterMs > 0)
                monitor.Cancel();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        FtpResult result;
        try {
            const auto connection = session.GetFtpConnection(server, user, password);
            QThread::msleep(pauseMs);
            if (!dir.isEmpty())
                result = connection->SetCurrentDirectory(RemotePath().Child(dir.toUtf8()));
            if (result && step != "login")
                result = step == "list"       ? connection->ReadDirectory(entries)
                         : step == "download" ? connection->GetFile(name, local.filePath("got"))
                                              : connection->PutFile(local.filePath("up"), name);
        } catch (const CInternetException& failure) {
            result = failure.m_result;
            certificate = failure.m_certificate;
        }
        elapsedMs = elapsed.elapsed();
        cancel.join();
        return result;
    }
    QByteArray Got() const { return ReadBytes(local.filePath("got")); }
};

} // namespace

class FtpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void steps_data();
    void steps();
    void realServer_data();
    void realServer();
    void tls_data();
    void tls();

private:
    QTemporaryDir m_dir;
    TestCertificates m_certificates;
};

void FtpTest::initTestCase() {
    // OpenSSL defaults as loose as a system may have them, read as libcurl starts: the program
    // must not rely on stricter ones.
    WriteBytes(m_dir.filePath("openssl.cnf"), "openssl_conf = c\n[c]\nssl_conf = s\n[s]\n"
                                              "system_default = d\n[d]\nMinProtocol = TLSv1\n"
                                              "CipherString = ALL:@SECLEVEL=0\n");
    qputenv("OPENSSL_CONF", QFile::encodeName(m_dir.filePath("openssl.cnf")));
    // A proxy in the environment is never used: through this one every step would fail.
    for (const char* proxy : {"ftp_proxy", "all_proxy", "ALL_PROXY", "FTP_PROXY"})
        qputenv(proxy, "http://127.0.0.1:9");
    qputenv("SSLKEYLOGFILE", QFile::encodeName(m_dir.filePath("keys.log")));
    QCOMPARE(m_certificates.Generate(), QString());
}

void FtpTest::steps_data() {
    // Server: "scenario [listing]" (scripted) or "py [ftpserver.py's options]". Fields:
    // server|user|password[|remote name]. Existing: a.txt before. Count: of commands or "entries".
    for (const char* column : {"server", "step", "fields", "pattern"})
        QTest::addColumn<QString>(column);
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("existing");
    const auto row = [](const QString& server, const QString& step, FtpReason reason,
                        const char* pattern = "^$", int count = 0, const QByteArray& existing = {},
                        const QString& fields = "%1|tolmi|secret") {
        const QByteArray tag = fields.left(16).toUtf8().toPercentEncoding(" |:[");
        QTest::addRow("%s %s %s", qPrintable(server), qPrintable(step),
                      fields.endsWith("secret") ? "" : tag.data())
            << server << step << fields << pattern << reason << count << existing;
    };
    using R = FtpReason;
    const QByteArray old = "old";
    // clang-format off
    row("no_greeting", "login", R::TimedOut);
    row("no_user_reply", "login", R::TimedOut);
    row("all_5xx", "login", R::Refused);
    row("close_mid_login", "login", R::CutOff);
    row("garbage_replies", "login", R::Refused);
    row("endless_multiline", "login", R::TimedOut);
    // Each server behaviour with one step. A listing cut off shows what came.
    row("close_mid_transfer", "list", R::CutOff, "entries", 1);
    for (const char* server : {"slow_passive", "no_quit_reply"})
        row(server, "list", R::Done, "entries", 3);
    // Another host's data connection comes first: the listing is refused.
    row("data_from_elsewhere", "list", R::LocalFile, "entries", 0);
    row("close_mid_transfer", "download", R::CutOff);
    row("stall_data", "download", R::TimedOut);
    // The second data connection checks the stored size.
    row("late_425", "upload", R::Done, "^EPSV", 2);
    row("no_data_connection", "download", R::TimedOut);
    row("no_final_reply", "download", R::TimedOut);
    row("early_150", "download", R::Done, "^EPSV", 1);
    row("pasv_elsewhere", "download", R::Done, "^PASV", 1);
    row("lying_size", "download", R::Done);
    row("short_data", "download", R::CutOff);
    // Only a refused temporary name is stored under the target itself.
    for (const QString code : {"425", "426", "452", "552"})
        row("stor_temp_" + code, "upload", R::Refused, "^STOR a.txt", 0);
    for (const QString code : {"550", "553"})
        row("stor_temp_" + code, "upload", R::Done, "^STOR a.txt", 1);
    // A name the server could misread is never sent back.
    row("good", "download", R::UnusableText, "^(RETR|DELE)", 0, {}, "%1|u|p|a\rDELE b");
    row("good", "upload", R::UnusableText, "^(STOR|DELE)", 0, {}, QString::fromLatin1("%1|u|p|n\0ul", 11));
    // A line no parser reads: the bare names list it all the same.
    row("no_mlsd unread", "list", R::Done, "entries", 2);
    row("py", "upload", R::Done, "^RNTO a.txt", 1, old);
    row("py refuse-rename", "upload", R::Done, "^STOR a.txt", 1, old);
    row("py drop-folder", "upload", R::Done, "^STOR a.txt", 1);
    row("py cut-uploads=102400", "upload", R::CutOff, "^RNTO", 0, old);
    // Cancelled: the temporary file goes all the same.
    row("py throttle=204800", "upload cancelled", R::Cancelled, "^RNTO", 0, old);
    row("py refuse-active", "download", R::Done, "^EPSV", 1, old);
    row("py", "download over a local file", R::LocalFile, "^RETR", 0, old);
    row("py", "download", R::Refused, "^RETR", 1); // gone since the listing
    row("py anonymous", "list", R::Done, "^USER anonymous", 1, {}, "%1||");
    // Fields that cannot be right fail with nothing sent; a long password is the server's.
    for (const QString& bad : {QString("127.0.0.1\rx|u|p"), QString("%1|tol\nmi|p"), QString::fromLatin1("%1|u|\0", 6)})
        row("py", "login", R::UnusableText, "^USER", 0, {}, bad);
    row("py", "login", R::Unreachable, "^USER", 0, {}, "127.0.0.1:70000|u|p");
    row("py", "login", R::BadReply, "^USER", 0, {}, QString(100000, 'h') + "|u|p");
    row("py", "login", R::BadReply, "^USER", 1, {}, "%1|u|" + QString(100000, 'p'));
    // clang-format on
}

void FtpTest::steps() {
    QFETCH(QString, server);
    QFETCH(QString, step);
    QFETCH(QByteArray, existing);
    const bool scripted = !server.startsWith("py");
    TestServerOptions options;
    options.words = server.split(' ').mid(1);
    TestServer py(options);
    HostileServer hostile(server);
    QCOMPARE(scripted ? hostile.Start() : py.Start(), QString());
    if (!existing.isEmpty())
        py.WriteFile("a.txt", existing);
    Step run;
    const QByteArray up(2 << 20, 'u');
    const QByteArray local = step.endsWith("local file") ? "precious" : "(none)";
    WriteBytes(run.local.filePath("up"), up);
    if (local != "(none)")
        WriteBytes(run.local.filePath("got"), local);
    // Short limits for misbehaving scenarios, but the QUIT rows: their release has its own bound.
    if (scripted && !server.contains("quit"))
        run.timeouts = {1000, 1000, 1000, 1000};
    run.cancelAfterMs = step.endsWith("cancelled") ? 300 : 0;
    QFETCH(QString, fields);
    const QStringList field =
        fields.replace("%1", scripted ? hostile.Address() : py.Address()).split('|');
    const FtpResult result = run.Run(field[0], step.section(' ', 0, 0),
                                     field.value(3, "a.txt").toUtf8(), field[1], field[2]);
    QCOMPARE_LT(run.elapsedMs, 10000);
    QTEST(result.Reason(), "reason");
    QFETCH(QString, pattern);
    QTEST(pattern == "entries" ? int(run.entries.size())
                               : Count(scripted ? hostile.Commands() : py.Commands(), pattern),
          "count");
    // Files change only by a complete step, and no other file is left on either side.
    const QByteArray served = scripted ? "content of a file\n" : existing;
    QCOMPARE(run.Got(), result && step == "download" ? served : local);
    if (!scripted) {
        const QByteArray before = existing.isEmpty() ? "(none)" : existing;
        QCOMPARE(ReadBytes(py.Root() + "/a.txt"), result && step == "upload" ? up : before);
        QVERIFY(QDir(py.Root()).entryList(QDir::Files | QDir::Hidden).size() <= 1);
    }
}

void FtpTest::realServer_data() {
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<TlsOffer>("tls");
    QByteArray random(32 << 20, Qt::Uninitialized);
    QRandomGenerator(21).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    const auto row = [](const char* tag, const QByteArray& name, const QByteArray& content,
                        const QString& dir = "",
                        TlsOffer tls = {}) { QTest::newRow(tag) << dir << name << content << tls; };
    row("awkward name, empty", "上传 [文件] %#?;type=a.txt", "");
    row("32 MiB in a directory", "large.bin", random, "目录");
    // Servers that keep names as bytes (proftpd) list GBK names: sent back as they came.
    row("GBK", "\xd6\xd0\xce\xc4.txt", "gbk");
    // TLS wherever offered, verified; implicit where the address asks for it.
    row("TLS offered", "a.bin", random.left(1 << 20), "", TlsOffer::Explicit);
    row("TLS implicit", "a.bin", random.left(1 << 20), "", TlsOffer::Implicit);
}

// Upload, listing and download byte for byte, on each real server kind.
void FtpTest::realServer() {
    QFETCH(QString, dir);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    QFETCH(TlsOffer, tls);
    TestServerOptions options{TestServer::KindFromEnvironment()};
    options.tls = tls;
    options.certificate = m_certificates.Signed();
    TestServer server(options);
    const bool gbk = name.startsWith('\xd6');
    const ServerKind kind = server.Kind();
    if ((gbk && kind != ServerKind::Proftpd) ||
        (tls == TlsOffer::Implicit && kind == ServerKind::Proftpd) ||
        (tls != TlsOffer::None && kind == ServerKind::PyftpdlibListOnly))
        QSKIP("this server kind cannot serve it");
    QCOMPARE(server.Start(), QString());
    server.WriteFile("a.txt", "at the top");
    server.MakeDirectory(dir + "/");
    Step run;
    run.dir = dir;
    run.trust.SetAuthorityFile(m_certificates.Authority());
    WriteBytes(run.local.filePath("up"), content);
    const QString address = (tls == TlsOffer::Implicit ? "ftps://" : "") + server.Address();
    QVERIFY(run.Run(address, "upload", name));
    const QByteArray path = QFile::encodeName(server.Root() + "/" + dir + "/") + name;
    QCOMPARE(ReadBytes(path), content);
    QVERIFY(run.Run(address, "list") && run.Run(address, "list"));
    const auto listed = [&](const RemoteEntry& entry) {
        return entry.name == name && entry.size == content.size();
    };
    QVERIFY(std::any_of(run.entries.begin(), run.entries.end(), listed));
    QVERIFY(run.Run(address, "download", name));
    QCOMPARE(run.Got(), content);
    ::unlink(path); // a GBK name defeats the temporary folder's clean-up
    // What the run learnt of a server without MLSD lasts: one more login, once.
    const bool mlsd = server.Kind() != ServerKind::PyftpdlibListOnly;
    QCOMPARE(Count(server.Commands(), "^USER "), mlsd ? 4 : 5);
    QCOMPARE(Count(server.Commands(), "^MLSD"), mlsd ? 2 : 1);
    QVERIFY(tls == TlsOffer::None || (run.monitor.TlsMinorVersion() >= 2 &&
                                      Count(server.Commands(), "TLS session for data") >= 2));
    QVERIFY(!QFile::exists(m_dir.filePath("keys.log")));
}

void FtpTest::tls_data() {
    for (const char* column : {"scenario", "address", "step"})
        QTest::addColumn<QString>(column);
    QTest::addColumn<QStringList>("options"); // the scripted server's
    QTest::addColumn<FtpReason>("reason");
    QTest::addColumn<int>("users");   // USER commands received, all encrypted
    QTest::addColumn<bool>("pinned"); // the key of SelfSigned(0) trusted beforehand
    const auto row = [](const char* tag, const char* scenario, const QStringList& options,
                        const char* step, FtpReason reason, int users, bool pinned = false,
                        const char* address = "127.0.0.1:%1") {
        QTest::newRow(tag) << scenario << address << step << options << reason << users << pinned;
    };
    using R = FtpReason;
    const QStringList self0{"--tls", m_certificates.SelfSigned(0)};
    const QStringList otherName{"--tls", m_certificates.SignedForOtherName()};
    const QStringList lineBreak{"--tls", m_certificates.LineBreakInSubject()};
    const QStringList otherDataKey =
        self0 + QStringList{"--tls-data-cert", m_certificates.SelfSigned(1)};
    // AUTH works on the first connection, then is refused.
    const QStringList once{"--tls", m_certificates.Signed(), "--tls-connections", "1"};
    // clang-format off
    // A trusted key holds for another spelling of the address.
    row("127.1", "good", self0, "login", R::Done, 1, true, "127.1:%1");
    // The login meets a certificate not trusted; the probe finds a silent server, and a cancel.
    row("cancel during the probe", "later_connections_silent", self0, "login cancelled", R::CertificateNotTrusted, 0);
    // "again": after a login, whatever its outcome. Only the login's and the probe's connections
    // speak TLS.
    row("not trusted, retry", "good", self0 + QStringList{"--tls-connections", "2"}, "login again", R::NotEncrypted, 0);
    // No certificate: a pinned key would go unchecked.
    row("anonymous suite", "good", {"--tls", ""}, "login", R::BadReply, 0, true);
    row("ftpes:// to a plain server", "good", {}, "login", R::NotEncrypted, 0, false, "ftpes://127.0.0.1:%1");
    row("wrong password, retry", "wrong_password_first", once, "login again", R::NotEncrypted, 1);
    row("reset after handshake, retry", "reset_after_handshake", once, "login again", R::NotEncrypted, 0);
    row("MLSD refused, LIST", "no_mlsd", once, "list", R::NotEncrypted, 1);
    row("line dropped, next request", "close_after_login", once, "list", R::NotEncrypted, 1);
    row("upload cut, clean-up", "close_on_stor", once, "upload", R::CutOff, 1);
    row("other key on a data connection", "good", otherDataKey, "list", R::CertificateChanged, 1, true);
    row("valid chain, other name", "good", otherName, "login", R::CertificateNotTrusted, 0);
    row("line break in subject", "good", lineBreak, "login", R::CertificateNotTrusted, 0);
    // clang-format on
}

// No login goes to a server not trusted, nor in clear once it spoke TLS.
void FtpTest::tls() {
    QFETCH(QString, scenario);
    QFETCH(QStringList, options);
    QFETCH(QString, address);
    QFETCH(QString, step);
    HostileServer server(scenario, options);
    QCOMPARE(server.Start(), QString());
    Step run;
    run.trust.SetAuthorityFile(m_certificates.Authority());
    QFETCH(bool, pinned);
    if (pinned)
        run.trust.Pin(ServerAddress::Parse(server.Address(), 21)->Key(),
                      ServerCertificate::FromPem(ReadBytes(m_certificates.SelfSigned(0)))
                          .value()
                          .publicKeyPin);
    WriteBytes(run.local.filePath("up"), "up");
    run.pauseMs = step.startsWith("login") ? 0 : 500;
    run.cancelAfterMs = step.endsWith("cancelled") ? 1000 : 0;
    const QString at = address.arg(server.Address().section(':', 1));
    if (step.endsWith("again"))
        (void)run.Run(at, "login");
    const FtpResult result = run.Run(at, step.section(' ', 0, 0));
    QCOMPARE_LT(run.elapsedMs, 10000);
    // A key refused on a data connection may end the handshake on either side.
    if (!options.contains("--tls-data-cert") || result.Reason() != FtpReason::BadReply)
        QTEST(result.Reason(), "reason");
    QTEST(Count(server.Commands(), "USER"), "users");
    QCOMPARE(Count(server.Commands(), "^clear: (USER|PASS)"), 0);
    // The certificate question's facts: true, and no control character in them.
    if (run.certificate) {
        const bool otherName = options.contains(m_certificates.SignedForOtherName());
        QCOMPARE(run.certificate->problem,
                 otherName ? CertificateProblem::WrongName : CertificateProblem::SelfSigned);
        const QString fields = run.certificate->subject + run.certificate->issuer;
        QVERIFY2(!fields.contains(QRegularExpression("[\\x00-\\x1f]")), qPrintable(fields));
        QCOMPARE(fields.contains("forged line"),
                 options.contains(m_certificates.LineBreakInSubject()));
    }
}

QTEST_GUILESS_MAIN(FtpTest)
#include "tst_ftp.moc"
