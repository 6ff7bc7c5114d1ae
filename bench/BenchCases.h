#pragma once

#include "bench/Measure.h"
#include "tests/support/TestServer.h"

#include <QJsonObject>
#include <optional>
#include <vector>

struct BenchSettings {
    qint64 fileBytes = qint64(1) << 30;
    int entries = 100000;
    int runs = 3;
    QString workDir; // where local files go
};

struct CaseResult {
    QString name;
    QString server;
    Timing tolmi;
    QString baseline;
    std::optional<Timing> baselineTiming;
    std::optional<double> target;

    std::optional<double> Ratio() const;
    QJsonObject ToJson() const;
};

struct MemoryResult {
    double idleMiB = 0;
    double transferPeakAboveIdleMiB = 0;
    double listingMiBPer1000Entries = 0;
};

// Every case against one kind of server; the tolmi side runs the window's own handlers.
std::vector<CaseResult> RunBenchCases(ServerKind kind, const BenchSettings& settings,
                                      MemoryResult& memory);

// Transfers and a small Connect over TLS against proftpd with mod_tls, beside curl.
std::vector<CaseResult> RunTlsBenchCases(const BenchSettings& settings, MemoryResult& memory);
