#pragma once

#include "Measure.h"
#include "support/TestServer.h"

#include <QJsonObject>
#include <optional>
#include <vector>

struct BenchSettings {
    qint64 fileBytes = qint64(1) << 30;
    int entries = 100000;
    int pairs = 5;
    QString workDir; // where local files go
};

// The baseline of the rows that set a download beside its limit: the server's data connection read
// straight into a file by server_limit.py.
inline const QString kServerLimitBaseline = QStringLiteral("data connection to file");

struct CaseResult {
    QString name;
    QString server;
    QString baseline;
    PairedTiming timing;
    std::optional<double> target; // for the median pair ratio

    bool Missed() const { return target && timing.MedianRatio() > *target; }
    QJsonObject ToJson() const;
};

struct MemoryResult {
    double idleMiB = 0;
    double transferPeakAboveIdleMiB = 0;
    double listingBytesPerEntry = 0;
};

// Every case against one kind of server; the tolmi side runs the window's own handlers.
std::vector<CaseResult> RunBenchCases(ServerKind kind, const BenchSettings& settings,
                                      MemoryResult& memory);

// Transfers and a small Connect over TLS against proftpd with mod_tls, beside curl.
std::vector<CaseResult> RunTlsBenchCases(const BenchSettings& settings, MemoryResult& memory);

// Transfers and a small Connect over SFTP against OpenSSH's sshd, beside curl and OpenSSH's sftp
// client. Needs root: the server's account is made for the run.
std::vector<CaseResult> RunSftpBenchCases(const BenchSettings& settings, MemoryResult& memory);
