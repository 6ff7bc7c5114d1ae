#include "bench/BenchCases.h"

#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestCertificates.h"
#include "ui/CtolmiDlg.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <algorithm>
#include <unistd.h>

namespace {

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
    explicit Window(const TestServer& server) {
        auto prompter = std::make_unique<ScriptedPrompter>();
        m_prompter = prompter.get();
        dlg.SetPrompter(std::move(prompter));
        dlg.show();
        dlg.m_editServer->setText(server.Address());
        dlg.m_editUser->setText(server.User());
        dlg.m_editPassword->setText(server.Password());
    }

    double Time(void (CtolmiDlg::*handler)(), const QString& expectedMessage) {
        QElapsedTimer timer;
        timer.start();
        (dlg.*handler)();
        const double seconds = Seconds(timer);
        if (m_prompter->messages.isEmpty() ||
            !m_prompter->messages.last().startsWith(expectedMessage))
            qFatal("%s did not succeed", qPrintable(expectedMessage));
        return seconds;
    }

    void Select(const QString& line) {
        const auto items = dlg.m_listFiles->findItems(line, Qt::MatchExactly);
        if (items.isEmpty())
            qFatal("no line %s", qPrintable(line));
        dlg.m_listFiles->setCurrentItem(items.first());
    }

    ScriptedPrompter& Prompter() { return *m_prompter; }

    CtolmiDlg dlg;

private:
    ScriptedPrompter* m_prompter;
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

double Curl(const QStringList& arguments) {
    return External("curl", QStringList{"-s", "-S"} + arguments);
}

std::unique_ptr<TestServer> StartServer(ServerKind kind) {
    auto server = std::make_unique<TestServer>(TestServerOptions{kind});
    return server;
}

void Start(TestServer& server) {
    QString error;
    if (!server.Start(error))
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

// Connect on a large directory that only LIST shows, with Chinese names and dates.
CaseResult ChineseListingCase(const BenchSettings& settings) {
    TestServerOptions options;
    options.kind = ServerKind::PyftpdlibListOnly;
    options.chineseDates = true;
    TestServer server(options);
    FillLargeDirectory(server, settings.entries, QStringLiteral("条目"), QStringLiteral("目录"));
    Start(server);
    Window window(server);
    const Timing connect =
        Repeat(settings.runs, [&] { return window.Time(&CtolmiDlg::OnConnect, "连接成功"); });
    // Every entry must have been read for the time to mean anything.
    if (window.dlg.m_listFiles->count() != settings.entries + 100)
        qFatal("the Chinese-locale listing showed %d lines", window.dlg.m_listFiles->count());
    const Timing curl = Repeat(settings.runs, [&] {
        return Curl({"-P", "-", "-u", Credentials(server), Url(server)});
    });
    return {"connect, " + QString::number(settings.entries) + " entries, Chinese-locale LIST",
            TestServer::KindName(options.kind),
            connect,
            "curl LIST listing",
            curl,
            1.5};
}

struct TransferTimings {
    Timing download, curlDownload, upload, curlUpload;
};

// Downloads big.bin and uploads the source file through the window, and the same with curl
// given `curlOptions`; the window must be logged in already.
TransferTimings TimeTransfers(Window& window, const TestServer& server,
                              const BenchSettings& settings, const QStringList& curlOptions,
                              double& transferPeak) {
    const QString source = settings.workDir + "/source.bin";
    const QString target = settings.workDir + "/target.bin";
    auto timeWindow = [&](void (CtolmiDlg::*handler)(), const QString& expected) {
        const double before = ResetPeakRss();
        const double seconds = window.Time(handler, expected);
        transferPeak = std::max(transferPeak, PeakRssMiB() - before);
        return seconds;
    };
    auto curl = [&](const QStringList& arguments) {
        return Curl(curlOptions + QStringList{"-u", Credentials(server)} + arguments);
    };
    auto removeTarget = [&] { QFile::remove(target); };
    TransferTimings timings;
    timings.download = Repeat(
        settings.runs,
        [&] {
            window.Select("big.bin");
            window.Prompter().saveAnswers << target;
            return timeWindow(&CtolmiDlg::OnDownload, "下载成功");
        },
        removeTarget);
    timings.curlDownload = Repeat(
        settings.runs,
        [&] {
            return curl({"-o", target, Url(server, "big.bin")});
        },
        removeTarget);
    removeTarget();
    const QString uploaded = server.Root() + "/source.bin";
    const QString curlUploaded = server.Root() + "/curl-up.bin";
    timings.upload = Repeat(
        settings.runs,
        [&] {
            window.Prompter().openAnswers << source;
            return timeWindow(&CtolmiDlg::OnUpload, "上传成功");
        },
        [&] { QFile::remove(uploaded); });
    timings.curlUpload = Repeat(
        settings.runs,
        [&] {
            return curl({"-T", source, Url(server, "curl-up.bin")});
        },
        [&] { QFile::remove(curlUploaded); });
    QFile::remove(uploaded);
    QFile::remove(curlUploaded);
    return timings;
}

// Connect on a directory of ten files against one curl listing with `curlOptions`: the cost of
// one command.
std::pair<Timing, Timing> TimeSmallConnect(TestServer& small, const BenchSettings& settings,
                                           const QString& authority,
                                           const QStringList& curlOptions) {
    for (int i = 0; i < 10; ++i)
        small.WriteFile(QStringLiteral("file-%1.txt").arg(i), "x");
    Start(small);
    Window window(small);
    window.dlg.SetTlsAuthority(authority);
    const Timing connect =
        Repeat(settings.runs * 3, [&] { return window.Time(&CtolmiDlg::OnConnect, "连接成功"); });
    const Timing curl = Repeat(settings.runs * 3, [&] {
        return Curl(curlOptions + QStringList{"-u", Credentials(small), "-X", "MLSD", Url(small)});
    });
    return {connect, curl};
}

// The big file on the server: a hard link, the same bytes without a second gigabyte on disk.
void PlaceBigFile(const TestServer& server, const BenchSettings& settings) {
    const QString source = settings.workDir + "/source.bin";
    if (!QFile::exists(source) && !WriteBigFile(source, settings.fileBytes))
        qFatal("cannot write %s", qPrintable(source));
    const QByteArray big = QFile::encodeName(server.Root() + "/big.bin");
    if (::link(QFile::encodeName(source).constData(), big.constData()) != 0 &&
        !QFile::copy(source, server.Root() + "/big.bin"))
        qFatal("cannot place the big file");
}

} // namespace

std::optional<double> CaseResult::Ratio() const {
    if (!baselineTiming || baselineTiming->min <= 0)
        return std::nullopt;
    return tolmi.min / baselineTiming->min;
}

QJsonObject CaseResult::ToJson() const {
    auto timing = [](const Timing& t) { return QJsonObject{{"min", t.min}, {"median", t.median}}; };
    QJsonObject json{
        {"name", name}, {"server", server}, {"tolmi_s", timing(tolmi)}, {"baseline", baseline}};
    json["baseline_s"] = baselineTiming ? QJsonValue(timing(*baselineTiming)) : QJsonValue();
    json["ratio"] = Ratio() ? QJsonValue(*Ratio()) : QJsonValue();
    json["target"] = target ? QJsonValue(*target) : QJsonValue();
    return json;
}

std::vector<CaseResult> RunBenchCases(ServerKind kind, const BenchSettings& settings,
                                      MemoryResult& memory) {
    const QString serverName = TestServer::KindName(kind);
    std::vector<CaseResult> results;
    const QString local = settings.workDir;
    auto transfers = StartServer(kind);
    PlaceBigFile(*transfers, settings);
    Start(*transfers);
    Window window(*transfers);
    double transferPeak = 0; // above the resident size when the transfer started

    window.Time(&CtolmiDlg::OnConnect, "连接成功");
    const TransferTimings timings =
        TimeTransfers(window, *transfers, settings, {"-P", "-"}, transferPeak);
    results.push_back({"download 1 GiB, active", serverName, timings.download, "curl -P -",
                       timings.curlDownload, 1.05});
    results.push_back({"upload 1 GiB, active", serverName, timings.upload, "curl -P - -T",
                       timings.curlUpload, 1.05});

    const QString target = local + "/target.bin";
    const Timing lftp = Repeat(
        settings.runs,
        [&] {
            return External("lftp",
                            {"-c", "set ftp:passive-mode off; set xfer:clobber on; open -u " +
                                       Credentials(*transfers).replace(':', ',') + " " +
                                       Url(*transfers) + "; get big.bin -o " + target});
        },
        [&] { QFile::remove(target); });
    results.push_back({"download 1 GiB, active (lftp for reference)", serverName, timings.download,
                       "lftp, ftp:passive-mode off", lftp, std::nullopt});
    QFile::remove(target);
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, transferPeak);

    auto small = StartServer(kind);
    const auto [smallConnect, smallCurl] = TimeSmallConnect(*small, settings, {}, {"-P", "-"});
    results.push_back(
        {"connect, 10 entries", serverName, smallConnect, "curl MLSD listing", smallCurl, 1.2});

    // Connect and Refresh on a large directory.
    auto large = StartServer(kind);
    FillLargeDirectory(*large, settings.entries, "entry", "dir");
    Start(*large);
    Window largeWindow(*large);
    double listingPeak = 0;
    const Timing largeConnect = Repeat(settings.runs, [&] {
        const double before = ResetPeakRss();
        const double seconds = largeWindow.Time(&CtolmiDlg::OnConnect, "连接成功");
        listingPeak = std::max(listingPeak, PeakRssMiB() - before);
        return seconds;
    });
    const Timing largeRefresh =
        Repeat(settings.runs, [&] { return largeWindow.Time(&CtolmiDlg::OnRefresh, "刷新成功"); });
    const Timing largeCurl = Repeat(settings.runs, [&] {
        return Curl({"-P", "-", "-u", Credentials(*large), "-X", "MLSD", Url(*large)});
    });
    const QString entries = QString::number(settings.entries);
    results.push_back({"connect, " + entries + " entries", serverName, largeConnect,
                       "curl MLSD listing", largeCurl, 1.5});
    results.push_back({"refresh, " + entries + " entries", serverName, largeRefresh,
                       "curl MLSD listing", largeCurl, 1.5});
    memory.listingMiBPer1000Entries =
        std::max(memory.listingMiBPer1000Entries, listingPeak * 1000 / settings.entries);
    if (kind == ServerKind::Pyftpdlib)
        results.push_back(ChineseListingCase(settings));
    return results;
}

std::vector<CaseResult> RunTlsBenchCases(const BenchSettings& settings, MemoryResult& memory) {
    TestCertificates certificates;
    QString error;
    if (!certificates.Generate(error))
        qFatal("%s", qPrintable(error));
    TestServerOptions options{ServerKind::Proftpd};
    options.tls = TlsOffer::Required;
    options.certificate = certificates.Signed();
    const QString serverName = "proftpd, mod_tls";
    const QStringList curlTls = {"--ssl-reqd", "--cacert", certificates.Authority()};

    TestServer transfers(options);
    PlaceBigFile(transfers, settings);
    Start(transfers);
    Window window(transfers);
    window.dlg.SetTlsAuthority(certificates.Authority());
    window.Time(&CtolmiDlg::OnConnect, "连接成功");
    double transferPeak = 0;
    const TransferTimings timings =
        TimeTransfers(window, transfers, settings, curlTls, transferPeak);
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, transferPeak);

    TestServer small(options);
    const auto [connect, curlListing] =
        TimeSmallConnect(small, settings, certificates.Authority(), curlTls);
    return {{"download 1 GiB, TLS, passive", serverName, timings.download, "curl --ssl-reqd",
             timings.curlDownload, 1.05},
            {"upload 1 GiB, TLS, passive", serverName, timings.upload, "curl --ssl-reqd -T",
             timings.curlUpload, 1.05},
            {"connect, 10 entries, TLS", serverName, connect, "curl --ssl-reqd MLSD listing",
             curlListing, 1.2}};
}
