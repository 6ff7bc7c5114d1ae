#include "BenchCases.h"

#include "BenchPrompter.h"
#include "ftp/TransferBuffer.h"
#include "support/SshServer.h"
#include "support/TestCertificates.h"
#include "ui/CtolmiDlg.h"
#include "ui/Resource.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <unistd.h>

namespace {

const QString kServerLimit = QStringLiteral(TOLMI_SERVER_LIMIT);

bool WriteBigFile(const QString& path, qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(4 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 131) ^ (i >> 9));
    for (qint64 written = 0; written < bytes;) {
        const qint64 n = std::min<qint64>(block.size(), bytes - written);
        if (file.write(block.constData(), n) != n)
            return false;
        written += n;
    }
    return true;
}

double Seconds(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e9;
}

// The window with scripted answers, logged in to one server.
class Window {
public:
    explicit Window(const TestServer& server)
        : Window(server.Address(), server.User(), server.Password()) {}
    Window(const QString& address, const QString& user, const QString& password) {
        auto prompter = std::make_unique<BenchPrompter>();
        m_prompter = prompter.get();
        dlg.SetPrompter(std::move(prompter));
        dlg.show();
        Find<QLineEdit>(IDC_SERVER)->setText(address);
        Find<QLineEdit>(IDC_USER)->setText(user);
        Find<QLineEdit>(IDC_PASSWORD)->setText(password);
    }

    // Clicks the button and times its command.
    double Time(ResourceId button, const QString& expectedMessage) {
        QPushButton* command = Find<QPushButton>(button);
        QElapsedTimer timer;
        timer.start();
        command->click();
        const double seconds = Seconds(timer);
        if (m_prompter->messages.isEmpty() ||
            !m_prompter->messages.last().startsWith(expectedMessage))
            qFatal("%s did not succeed", qPrintable(expectedMessage));
        return seconds;
    }

    void Select(const QString& line) {
        const auto items = Files().findItems(line, Qt::MatchExactly);
        if (items.isEmpty())
            qFatal("no line %s", qPrintable(line));
        // What a click on the line gives: a click on the line already selected after a
        // download enables 下载 again.
        Files().setCurrentItem(items.first());
        Files().itemClicked(items.first());
    }

    QListWidget& Files() const { return *Find<QListWidget>(IDC_FILE_LIST); }

    BenchPrompter& Prompter() { return *m_prompter; }

    CtolmiDlg dlg;

private:
    // A control, by its object name as the window's template gives it.
    template <typename Control> Control* Find(ResourceId id) const {
        auto* control = dlg.findChild<Control*>(QString::number(id));
        if (control == nullptr)
            qFatal("the window has no control %d", int(id));
        return control;
    }

    BenchPrompter* m_prompter;
};

QString Url(const TestServer& server, const QString& path = {}) {
    return "ftp://" + server.Address() + "/" + path;
}

QString Credentials(const TestServer& server) {
    return server.User() + ":" + server.Password();
}

double External(const QString& program, const QStringList& arguments) {
    bool ok = false;
    const double seconds = TimeCommand(program, arguments, ok);
    if (!ok)
        qFatal("%s failed: %s", qPrintable(program), qPrintable(arguments.join(' ')));
    return seconds;
}

// A command that measures itself and prints the seconds.
double Reported(const QString& program, const QStringList& arguments) {
    bool ok = false;
    const double seconds = Run(program, arguments).trimmed().toDouble(&ok);
    if (!ok)
        qFatal("%s failed: %s", qPrintable(program), qPrintable(arguments.join(' ')));
    return seconds;
}

double Curl(const QStringList& arguments) {
    return External("curl", QStringList{"-s", "-S"} + arguments);
}

// Ends the run when a server or the certificates could not be set up.
void Require(const QString& error) {
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
}

// `entries` empty files and 100 directories, named by the two prefixes and a number.
void FillLargeDirectory(const TestServer& server, int entries, const QString& filePrefix,
                        const QString& directoryPrefix) {
    for (int i = 0; i < entries; ++i) {
        QFile file(server.Root() +
                   QStringLiteral("/%1-%2.dat").arg(filePrefix).arg(i, 6, 10, QChar('0')));
        file.open(QIODevice::WriteOnly);
    }
    for (int i = 0; i < 100; ++i)
        server.MakeDirectory(QStringLiteral("%1-%2").arg(directoryPrefix).arg(i));
}

QString SizeLabel(qint64 bytes) {
    const qint64 mib = bytes >> 20;
    return mib % 1024 == 0 ? QString::number(mib / 1024) + " GiB" : QString::number(mib) + " MiB";
}

// Connect on a large directory that only LIST shows, with Chinese names and dates.
CaseResult ChineseListingCase(const BenchSettings& settings) {
    TestServerOptions options;
    options.kind = ServerKind::PyftpdlibListOnly;
    options.script = TOLMI_SOURCE_DIR "/bench/chinese_dates_server.py";
    TestServer server(options);
    FillLargeDirectory(server, settings.entries, QStringLiteral("条目"), QStringLiteral("目录"));
    Require(server.Start());
    Window window(server);
    const PairedTiming timing = RunPairs(
        settings.pairs, [&] { return window.Time(IDOK, "连接成功"); },
        [&] {
            return Curl({"-P", "-", "-u", Credentials(server), Url(server)});
        });
    // Every entry must have been read for the time to mean anything.
    if (window.Files().count() != settings.entries + 100)
        qFatal("the Chinese-locale listing showed %d lines", window.Files().count());
    return {"connect, " + QString::number(settings.entries) + " entries, Chinese-locale LIST",
            TestServer::kKindNames[int(options.kind)], "curl LIST listing", timing, 1.5};
}

// Where a server keeps its files, and how curl reaches them.
struct ServerFiles {
    QString root;        // the login directory on disk
    QString url;         // the login directory's URL
    QString credentials; // "user:password"
};

ServerFiles FilesOf(const TestServer& server) {
    return {server.Root(), Url(server), Credentials(server)};
}

// The big file down and up through the window, and through the baselines; the window must be
// logged in already.
class TransferRuns {
public:
    TransferRuns(Window& window, ServerFiles server, const BenchSettings& settings,
                 QStringList curlOptions)
        : m_window(window), m_server(std::move(server)), m_curlOptions(std::move(curlOptions)),
          m_source(settings.workDir + "/source.bin"), m_target(settings.workDir + "/target.bin"),
          m_pairs(settings.pairs) {}

    PairedTiming Download(const std::function<double()>& baseline) {
        return RunPairs(
            m_pairs,
            [this] {
                m_window.Select("big.bin");
                m_window.Prompter().saveAnswers << m_target;
                return TimeWindow(IDC_DOWNLOAD, "下载成功");
            },
            baseline, [this] { RemoveCopies(); });
    }
    // The baseline against itself: how far a ratio strays on this machine when nothing differs.
    PairedTiming BaselineTwice(const std::function<double()>& baseline) {
        return RunPairs(m_pairs, baseline, baseline, [this] { RemoveCopies(); });
    }
    PairedTiming Upload(const std::function<double()>& baseline) {
        return RunPairs(
            m_pairs,
            [this] {
                m_window.Prompter().openAnswers << m_source;
                return TimeWindow(IDC_UPLOAD, "上传成功");
            },
            baseline, [this] { RemoveCopies(); });
    }

    double CurlDownload() { return CurlWithOptions({"-o", m_target, m_server.url + "big.bin"}); }
    double CurlUpload() {
        return CurlWithOptions({"-T", m_source, m_server.url + kBaselineUpload});
    }
    double LftpDownload() {
        return External("lftp", {"-c", "set ftp:passive-mode off; set xfer:clobber on; open -u " +
                                           QString(m_server.credentials).replace(':', ',') + " " +
                                           m_server.url + "; get big.bin -o " + m_target});
    }
    // OpenSSH's sftp client running one command in batch mode, with `options` to log in.
    double SftpCommand(const QStringList& options, const QString& command) {
        const QString batch = m_target + ".batch";
        QFile file(batch);
        if (!file.open(QIODevice::WriteOnly) || file.write(command.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(batch));
        file.close();
        return External("sftp", QStringList{"-q", "-b", batch} + options);
    }
    double SftpDownload(const QStringList& options) {
        return SftpCommand(options, "get big.bin " + m_target + "\n");
    }
    double SftpUpload(const QStringList& options) {
        return SftpCommand(options, "put " + m_source + " " + kBaselineUpload + "\n");
    }
    double LimitDownload(const TestServer& server) {
        // The reader uses the client's own buffer and write sizes.
        return Reported(kServerLimit,
                        {"127.0.0.1", server.Address().section(':', 1), server.User(),
                         server.Password(), "big.bin", m_target,
                         QString::number(kTransferBufferBytes), QString::number(kFileWriteBytes)});
    }

    void RemoveCopies() {
        QFile::remove(m_target);
        QFile::remove(m_server.root + "/source.bin");
        QFile::remove(m_server.root + "/" + kBaselineUpload);
    }

    double transferPeak = 0; // above the resident size when a transfer started

private:
    double TimeWindow(ResourceId button, const QString& expected) {
        const double before = ResetPeakRss();
        const double seconds = m_window.Time(button, expected);
        transferPeak = std::max(transferPeak, PeakRssMiB() - before);
        return seconds;
    }
    double CurlWithOptions(const QStringList& arguments) {
        return Curl(m_curlOptions + QStringList{"-u", m_server.credentials} + arguments);
    }

    static constexpr char kBaselineUpload[] = "baseline-up.bin";
    Window& m_window;
    const ServerFiles m_server;
    const QStringList m_curlOptions;
    const QString m_source;
    const QString m_target;
    const int m_pairs;
};

// Connect on a directory of ten files against one curl listing with `curlOptions`: the cost of
// one command.
PairedTiming TimeSmallConnect(TestServer& small, const BenchSettings& settings,
                              const QString& authority, const QStringList& curlOptions) {
    for (int i = 0; i < 10; ++i)
        small.WriteFile(QStringLiteral("file-%1.txt").arg(i), "x");
    Require(small.Start());
    Window window(small);
    window.dlg.SetTlsAuthority(authority);
    return RunPairs(
        settings.pairs * 3, [&] { return window.Time(IDOK, "连接成功"); },
        [&] {
            return Curl(curlOptions +
                        QStringList{"-u", Credentials(small), "-X", "MLSD", Url(small)});
        });
}

// The big file in `root`: a hard link, the same bytes without a second gigabyte on disk.
void PlaceBigFile(const QString& root, const BenchSettings& settings) {
    const QString source = settings.workDir + "/source.bin";
    if (!QFile::exists(source) && !WriteBigFile(source, settings.fileBytes))
        qFatal("cannot write %s", qPrintable(source));
    const QByteArray big = QFile::encodeName(root + "/big.bin");
    if (::link(QFile::encodeName(source).constData(), big.constData()) != 0 &&
        !QFile::copy(source, root + "/big.bin"))
        qFatal("cannot place the big file");
}

} // namespace

QJsonObject CaseResult::ToJson() const {
    QJsonObject json = timing.ToJson();
    json["name"] = name;
    json["server"] = server;
    json["baseline"] = baseline;
    json["target"] = target ? QJsonValue(*target) : QJsonValue();
    return json;
}

std::vector<CaseResult> RunBenchCases(ServerKind kind, const BenchSettings& settings,
                                      MemoryResult& memory) {
    const QString serverName = TestServer::kKindNames[int(kind)];
    const QString size = SizeLabel(settings.fileBytes);
    std::vector<CaseResult> results;
    TestServer transfers(TestServerOptions{kind});
    PlaceBigFile(transfers.Root(), settings);
    Require(transfers.Start());
    Window window(transfers);
    window.Time(IDOK, "连接成功");
    TransferRuns runs(window, FilesOf(transfers), settings, {"-P", "-"});
    results.push_back({"download " + size + ", active", serverName, "curl -P -",
                       runs.Download([&] { return runs.CurlDownload(); }), 1.05});
    results.push_back({"upload " + size + ", active", serverName, "curl -P - -T",
                       runs.Upload([&] { return runs.CurlUpload(); }), 1.05});
    results.push_back({"upload " + size + ", active (curl against itself)", serverName,
                       "curl -P - -T", runs.BaselineTwice([&] { return runs.CurlUpload(); }),
                       std::nullopt});
    results.push_back({"download " + size + ", active (lftp for reference)", serverName,
                       "lftp, ftp:passive-mode off",
                       runs.Download([&] { return runs.LftpDownload(); }), std::nullopt});
    results.push_back({"download " + size + ", active, over its limit", serverName,
                       kServerLimitBaseline,
                       runs.Download([&] { return runs.LimitDownload(transfers); }), 1.25});
    runs.RemoveCopies();
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, runs.transferPeak);

    TestServer small(TestServerOptions{kind});
    results.push_back({"connect, 10 entries", serverName, "curl MLSD listing",
                       TimeSmallConnect(small, settings, {}, {"-P", "-"}), 1.2});

    // Connect and Refresh on a large directory.
    TestServer large(TestServerOptions{kind});
    FillLargeDirectory(large, settings.entries, "entry", "dir");
    Require(large.Start());
    Window largeWindow(large);
    double listingPeak = 0;
    auto curlListing = [&] {
        return Curl({"-P", "-", "-u", Credentials(large), "-X", "MLSD", Url(large)});
    };
    const PairedTiming largeConnect = RunPairs(
        settings.pairs,
        [&] {
            const double before = ResetPeakRss();
            const double seconds = largeWindow.Time(IDOK, "连接成功");
            listingPeak = std::max(listingPeak, PeakRssMiB() - before);
            return seconds;
        },
        curlListing);
    const PairedTiming largeRefresh = RunPairs(
        settings.pairs, [&] { return largeWindow.Time(IDC_REFRESH, "刷新成功"); }, curlListing);
    const QString entries = QString::number(settings.entries);
    results.push_back(
        {"connect, " + entries + " entries", serverName, "curl MLSD listing", largeConnect, 1.5});
    results.push_back(
        {"refresh, " + entries + " entries", serverName, "curl MLSD listing", largeRefresh, 1.5});
    memory.listingBytesPerEntry =
        std::max(memory.listingBytesPerEntry, listingPeak * 1024 * 1024 / settings.entries);
    if (kind == ServerKind::Pyftpdlib)
        results.push_back(ChineseListingCase(settings));
    return results;
}

std::vector<CaseResult> RunTlsBenchCases(const BenchSettings& settings, MemoryResult& memory) {
    TestCertificates certificates;
    Require(certificates.Generate());
    TestServerOptions options{ServerKind::Proftpd};
    options.tls = TlsOffer::Required;
    options.certificate = certificates.Signed();
    const QString serverName = "proftpd, mod_tls";
    const QString size = SizeLabel(settings.fileBytes);
    const QStringList curlTls = {"--ssl-reqd", "--cacert", certificates.Authority()};

    TestServer transfers(options);
    PlaceBigFile(transfers.Root(), settings);
    Require(transfers.Start());
    Window window(transfers);
    window.dlg.SetTlsAuthority(certificates.Authority());
    window.Time(IDOK, "连接成功");
    TransferRuns runs(window, FilesOf(transfers), settings, curlTls);
    std::vector<CaseResult> results{
        {"download " + size + ", TLS, passive", serverName, "curl --ssl-reqd",
         runs.Download([&] { return runs.CurlDownload(); }), 1.05},
        {"upload " + size + ", TLS, passive", serverName, "curl --ssl-reqd -T",
         runs.Upload([&] { return runs.CurlUpload(); }), 1.05}};
    runs.RemoveCopies();
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, runs.transferPeak);

    TestServer small(options);
    results.push_back({"connect, 10 entries, TLS", serverName, "curl --ssl-reqd MLSD listing",
                       TimeSmallConnect(small, settings, certificates.Authority(), curlTls), 1.2});
    return results;
}

std::vector<CaseResult> RunSftpBenchCases(const BenchSettings& settings, MemoryResult& memory) {
    // The window finds the server's key where a user keeps it, in a home of the bench's own.
    QTemporaryDir home;
    const QByteArray userHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    SshServer server;
    Require(server.Start());
    const QString serverName = "OpenSSH sshd", size = SizeLabel(settings.fileBytes);
    const QString knownHosts = home.filePath(".ssh/known_hosts"), key = home.filePath("key");
    QFile hostKey(server.HostKey()), hosts(knownHosts);
    QDir().mkpath(home.filePath(".ssh"));
    QDir().mkpath(server.Home() + "/.ssh");
    if (!hostKey.open(QIODevice::ReadOnly) || !hosts.open(QIODevice::WriteOnly) ||
        Run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key}).isEmpty() ||
        !QFile::copy(key + ".pub", server.Home() + "/.ssh/authorized_keys"))
        qFatal("cannot set up the SSH keys");
    const QString port = server.Address().section(':', 2);
    hosts.write("[127.0.0.1]:" + port.toUtf8() + " " + hostKey.readAll());
    hosts.close();
    const QString fingerprint =
        Run("ssh-keygen", {"-lf", server.HostKey(), "-E", "sha256"}).split(' ').value(1).mid(7);
    // curl pins the same key; OpenSSH's client logs in with a key of its own.
    const QStringList curlSsh = {"--hostpubsha256", fingerprint};
    const QStringList sftp = {"-i",
                              key,
                              "-P",
                              port,
                              "-o",
                              "UserKnownHostsFile=" + knownHosts,
                              "-o",
                              "BatchMode=yes",
                              server.User() + "@127.0.0.1"};
    const ServerFiles files{server.Home(), server.Address() + "/~/", server.User() + ":pw"};

    // Connect first, while the login directory holds only its ten files.
    for (int i = 0; i < 10; ++i)
        QFile(server.Home() + QStringLiteral("/file-%1.txt").arg(i)).open(QIODevice::WriteOnly);
    Run("chown", {"-R", server.User(), server.Home()});
    Window window(server.Address(), server.User(), "pw");
    std::vector<CaseResult> results;
    results.push_back(
        {"connect, 10 entries, SFTP", serverName, "curl sftp:// listing",
         RunPairs(
             settings.pairs * 3, [&] { return window.Time(IDOK, "连接成功"); },
             [&] {
                 return Curl(curlSsh + QStringList{"-u", files.credentials, files.url});
             }),
         1.2});

    PlaceBigFile(server.Home(), settings);
    window.Time(IDOK, "连接成功");
    TransferRuns runs(window, files, settings, curlSsh);
    results.push_back({"download " + size + ", SFTP", serverName, "curl sftp://",
                       runs.Download([&] { return runs.CurlDownload(); }), 1.05});
    results.push_back({"download " + size + ", SFTP (OpenSSH sftp)", serverName, "OpenSSH sftp",
                       runs.Download([&] { return runs.SftpDownload(sftp); }), 1.5});
    results.push_back({"upload " + size + ", SFTP", serverName, "curl sftp:// -T",
                       runs.Upload([&] { return runs.CurlUpload(); }), 1.05});
    results.push_back({"upload " + size + ", SFTP (OpenSSH sftp)", serverName, "OpenSSH sftp put",
                       runs.Upload([&] { return runs.SftpUpload(sftp); }), 1.5});
    runs.RemoveCopies();
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, runs.transferPeak);
    qputenv("HOME", userHome);
    return results;
}
