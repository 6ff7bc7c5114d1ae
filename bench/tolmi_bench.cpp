// Times the window's own handlers against the curl and lftp command lines on the same local
// servers, in one run, and writes bench/results/latest.json.
#include "bench/BenchCases.h"
#include "ui/CtolmiDlg.h"

#include <QApplication>
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
    std::printf("%-46s %-10s %10s %10s %10s %10s %7s %7s\n", "case", "server", "tolmi min",
                "median", "base min", "median", "ratio", "target");
    for (const CaseResult& r : results) {
        std::printf("%-46s %-10s %10.3f %10.3f ", qPrintable(r.name), qPrintable(r.server),
                    r.tolmi.min, r.tolmi.median);
        if (r.baselineTiming)
            std::printf("%10.3f %10.3f ", r.baselineTiming->min, r.baselineTiming->median);
        else
            std::printf("%10s %10s ", "-", "-");
        if (r.Ratio())
            std::printf("%7.3f ", *r.Ratio());
        else
            std::printf("%7s ", "-");
        if (r.target)
            std::printf("%7.2f%s\n", *r.target,
                        r.Ratio() && *r.Ratio() > *r.target ? " MISSED" : "");
        else
            std::printf("%7s\n", "-");
    }
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
    settings.runs = EnvironmentInt("TOLMI_BENCH_RUNS", 3);
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
    // TOLMI_BENCH_CASES=clear or =tls runs only those cases.
    const QByteArray only = qgetenv("TOLMI_BENCH_CASES");
    if (only != "tls") {
        for (ServerKind kind : {ServerKind::Proftpd, ServerKind::Pyftpdlib}) {
            const auto cases = RunBenchCases(kind, settings, memory);
            results.insert(results.end(), cases.begin(), cases.end());
        }
    }
    if (only != "clear") {
        const auto cases = RunTlsBenchCases(settings, memory);
        results.insert(results.end(), cases.begin(), cases.end());
    }
    const Timing loopback =
        Repeat(settings.runs, [&] { return LoopbackCopySeconds(settings.fileBytes); });

    PrintTable(results);
    std::printf("\nloopback limit (plain socket copy of the same size): %.3f s\n", loopback.min);
    std::printf(
        "memory: idle %.1f MiB, transfers peak %.1f MiB above their start, listing %.3f MiB per "
        "1000 entries\n",
        memory.idleMiB, memory.transferPeakAboveIdleMiB, memory.listingMiBPer1000Entries);

    QJsonArray cases;
    for (const CaseResult& r : results)
        cases.append(r.ToJson());
    const QJsonObject json{
        {"machine", QSysInfo::prettyProductName() + ", " + QSysInfo::currentCpuArchitecture() +
                        ", " + QString::number(QThread::idealThreadCount()) + " cores"},
        {"file_bytes", double(settings.fileBytes)},
        {"cases", cases},
        {"loopback_limit_s", loopback.min},
        {"memory_mib", QJsonObject{{"idle", memory.idleMiB},
                                   {"transfer_peak_above_idle", memory.transferPeakAboveIdleMiB},
                                   {"listing_per_1000_entries", memory.listingMiBPer1000Entries}}}};
    QDir().mkpath(TOLMI_BENCH_RESULTS);
    QFile out(TOLMI_BENCH_RESULTS "/latest.json");
    if (out.open(QIODevice::WriteOnly))
        out.write(QJsonDocument(json).toJson());
    std::printf("written: %s\n", qPrintable(out.fileName()));
    return 0;
}
