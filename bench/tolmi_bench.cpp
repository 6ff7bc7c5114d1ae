// Times the window's own commands against the curl and lftp command lines on the same local
// servers, in one run, and writes bench/results/latest.json.
#include "BenchCases.h"
#include "ui/CtolmiDlg.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {

int EnvironmentInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

void PrintTable(const std::vector<CaseResult>& results) {
    std::printf("%-50s %-16s %9s %9s %7s %7s %7s %7s\n", "case", "server", "tolmi", "baseline",
                "ratio", "lowest", "highest", "target");
    for (const CaseResult& r : results) {
        const PairedTiming& t = r.timing;
        std::printf("%-50s %-16s %9.3f %9.3f %7.3f %7.3f %7.3f ", qPrintable(r.name),
                    qPrintable(r.server), t.TolmiMedian(), t.BaselineMedian(), t.MedianRatio(),
                    t.LowestRatio(), t.HighestRatio());
        if (r.target)
            std::printf("%7.2f%s\n", *r.target, r.Missed() ? " MISSED" : "");
        else
            std::printf("%7s\n", "-");
    }
}

// The machine's own limit of a download: a sendfile over loopback written to a new file.
std::vector<double> SocketToFileSeconds(const BenchSettings& settings) {
    const QString source = settings.workDir + "/source.bin",
                  target = settings.workDir + "/limit.bin";
    std::vector<double> seconds;
    for (int i = 0; QFile::exists(source) && i < settings.pairs; ++i) {
        seconds.push_back(Settled([&] { return SocketToFileSeconds(source, target); },
                                  [&] { QFile::remove(target); }));
    }
    QFile::remove(target);
    return seconds;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QTemporaryDir work(QDir::tempPath() + "/tolmi-bench-XXXXXX");
    BenchSettings settings;
    settings.fileBytes = qint64(EnvironmentInt("TOLMI_BENCH_MIB", 1024)) * 1024 * 1024;
    settings.entries = EnvironmentInt("TOLMI_BENCH_ENTRIES", 100000);
    settings.pairs = EnvironmentInt("TOLMI_BENCH_RUNS", 7);
    settings.workDir = work.path();

    std::vector<CaseResult> results;
    MemoryResult memory;
    {
        // The driver idle after start-up: the window built and painted once.
        CtolmiDlg idle;
        idle.show();
        QApplication::processEvents();
        memory.idleMiB = CurrentRssMiB();
    }
    // TOLMI_BENCH_CASES=clear, =tls or =sftp runs only those cases.
    const QByteArray only = qgetenv("TOLMI_BENCH_CASES");
    const auto wanted = [&only](const char* cases) { return only.isEmpty() || only == cases; };
    if (wanted("clear")) {
        for (ServerKind kind : {ServerKind::Proftpd, ServerKind::Pyftpdlib}) {
            const auto cases = RunBenchCases(kind, settings, memory);
            results.insert(results.end(), cases.begin(), cases.end());
        }
    }
    if (wanted("tls")) {
        const auto cases = RunTlsBenchCases(settings, memory);
        results.insert(results.end(), cases.begin(), cases.end());
    }
    if (wanted("sftp")) {
        const auto cases = RunSftpBenchCases(settings, memory);
        results.insert(results.end(), cases.begin(), cases.end());
    }
    std::vector<double> loopback;
    for (int i = 0; i < settings.pairs; ++i)
        loopback.push_back(LoopbackCopySeconds(settings.fileBytes));
    const std::vector<double> socketToFile = SocketToFileSeconds(settings);
    const double listingMiBPer1000 = memory.listingBytesPerEntry * 1000 / (1024 * 1024);

    PrintTable(results);
    std::printf("\ntimes are medians in seconds; ratio: the median of %d paired runs' tolmi over "
                "baseline, with the lowest and highest pair\n",
                settings.pairs);
    std::printf("limits of the same size: loopback socket copy %.3f s", Median(loopback));
    if (!socketToFile.empty())
        std::printf(", socket to file (sendfile) %.3f s", Median(socketToFile));
    std::printf("\nmemory: idle %.1f MiB, transfers peak %.1f MiB above their start, listing "
                "%.3f MiB per 1000 entries (%.0f bytes per entry)\n",
                memory.idleMiB, memory.transferPeakAboveIdleMiB, listingMiBPer1000,
                memory.listingBytesPerEntry);

    QJsonArray cases;
    for (const CaseResult& r : results)
        cases.append(r.ToJson());
    const QJsonObject json{
        {"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {"machine", QSysInfo::prettyProductName() + ", " + QSysInfo::currentCpuArchitecture() +
                        ", " + QString::number(QThread::idealThreadCount()) + " cores"},
        {"file_bytes", double(settings.fileBytes)},
        {"entries", settings.entries},
        {"pairs", settings.pairs},
        {"cases", cases},
        {"limits_s", QJsonObject{{"loopback_copy", ToJsonArray(loopback)},
                                 {"socket_to_file", ToJsonArray(socketToFile)}}},
        {"memory", QJsonObject{{"idle_mib", memory.idleMiB},
                               {"transfer_peak_above_idle_mib", memory.transferPeakAboveIdleMiB},
                               {"listing_mib_per_1000_entries", listingMiBPer1000},
                               {"listing_bytes_per_entry", memory.listingBytesPerEntry}}}};
    QDir().mkpath(TOLMI_BENCH_RESULTS);
    QFile out(TOLMI_BENCH_RESULTS "/latest.json");
    if (out.open(QIODevice::WriteOnly))
        out.write(QJsonDocument(json).toJson());
    std::printf("written: %s\n", qPrintable(out.fileName()));
    return 0;
}
