#include "bench/BenchCases.h"

#include "tests/support/ScriptedPrompter.h"
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
    return External("curl", QStringList{"-s", "-S", "-P", "-"} + arguments);
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
        return Curl({"-u", Credentials(server), Url(server)});
    });
    return {"connect, " + QString::number(settings.entries) + " entries, Chinese-locale LIST",
            TestServer::KindName(options.kind),
            connect,
            "curl LIST listing",
            curl,
            1.5};
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
    const QString source = local + "/source.bin";
    const QString target = local + "/target.bin";
    if (!QFile::exists(source) && !WriteBigFile(source, settings.fileBytes))
        qFatal("cannot write %s", qPrintable(source));

    auto transfers = StartServer(kind);
    // A hard link: the same bytes without a second gigabyte on disk.
    const QByteArray big = QFile::encodeName(transfers->Root() + "/big.bin");
    if (::link(QFile::encodeName(source).constData(), big.constData()) != 0 &&
        !QFile::copy(source, transfers->Root() + "/big.bin"))
        qFatal("cannot place the big file");
    Start(*transfers);
    Window window(*transfers);
    double transferPeak = 0; // above the resident size when the transfer started

    // Download.
    window.Time(&CtolmiDlg::OnConnect, "连接成功");
    const Timing download = Repeat(
        settings.runs,
        [&] {
            window.Select("big.bin");
            window.Prompter().saveAnswers << target;
            const double before = ResetPeakRss();
            const double seconds = window.Time(&CtolmiDlg::OnDownload, "下载成功");
            transferPeak = std::max(transferPeak, PeakRssMiB() - before);
            return seconds;
        },
        [&] { QFile::remove(target); });
    const Timing curlDownload = Repeat(
        settings.runs,
        [&] {
            return Curl({"-u", Credentials(*transfers), "-o", target, Url(*transfers, "big.bin")});
        },
        [&] { QFile::remove(target); });
    results.push_back(
        {"download 1 GiB, active", serverName, download, "curl -P -", curlDownload, 1.05});

    const Timing lftp = Repeat(
        settings.runs,
        [&] {
            return External("lftp",
                            {"-c", "set ftp:passive-mode off; set xfer:clobber on; open -u " +
                                       Credentials(*transfers).replace(':', ',') + " " +
                                       Url(*transfers) + "; get big.bin -o " + target});
        },
        [&] { QFile::remove(target); });
    results.push_back({"download 1 GiB, active (lftp for reference)", serverName, download,
                       "lftp, ftp:passive-mode off", lftp, std::nullopt});
    QFile::remove(target);

    // Upload.
    const Timing upload = Repeat(
        settings.runs,
        [&] {
            window.Prompter().openAnswers << source;
            const double before = ResetPeakRss();
            const double seconds = window.Time(&CtolmiDlg::OnUpload, "上传成功");
            transferPeak = std::max(transferPeak, PeakRssMiB() - before);
            return seconds;
        },
        [&] { QFile::remove(transfers->Root() + "/source.bin"); });
    const Timing curlUpload = Repeat(
        settings.runs,
        [&] {
            return Curl(
                {"-u", Credentials(*transfers), "-T", source, Url(*transfers, "curl-up.bin")});
        },
        [&] { QFile::remove(transfers->Root() + "/curl-up.bin"); });
    QFile::remove(transfers->Root() + "/source.bin");
    QFile::remove(transfers->Root() + "/curl-up.bin");
    results.push_back(
        {"upload 1 GiB, active", serverName, upload, "curl -P - -T", curlUpload, 1.05});
    memory.transferPeakAboveIdleMiB = std::max(memory.transferPeakAboveIdleMiB, transferPeak);

    // Connect on a small directory: the cost of one command.
    auto small = StartServer(kind);
    for (int i = 0; i < 10; ++i)
        small->WriteFile(QStringLiteral("file-%1.txt").arg(i), "x");
    Start(*small);
    Window smallWindow(*small);
    const Timing smallConnect = Repeat(
        settings.runs * 3, [&] { return smallWindow.Time(&CtolmiDlg::OnConnect, "连接成功"); });
    const Timing smallCurl = Repeat(settings.runs * 3, [&] {
        return Curl({"-u", Credentials(*small), "-X", "MLSD", Url(*small)});
    });
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
        return Curl({"-u", Credentials(*large), "-X", "MLSD", Url(*large)});
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
