#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Seconds of tolmi and its baseline run in pairs, each list in the order the runs happened.
struct PairedTiming {
    double tolmiWarmUp = 0;
    double baselineWarmUp = 0;
    std::vector<double> tolmi;
    std::vector<double> baseline;
    std::vector<double> ratios; // tolmi over baseline, pair by pair

    // A slow moment on a shared machine spoils one pair, not the row.
    double MedianRatio() const;
    double LowestRatio() const;
    double HighestRatio() const;
    double TolmiMedian() const;
    double BaselineMedian() const;
    QJsonObject ToJson() const;
};

// Seconds `run` measured, after `prepare`, both untimed, on a machine that has settled.
double Settled(const std::function<double()>& run, const std::function<void()>& prepare);

// Runs `tolmi` and `baseline` (each returns the seconds it measured) once each untimed, then
// `pairs` times each, taking turns to go first (tolmi, baseline, baseline, tolmi, ...) so that
// neither always finds the machine warmer. `prepare` runs untimed before every run.
PairedTiming RunPairs(int pairs, const std::function<double()>& tolmi,
                      const std::function<double()>& baseline,
                      const std::function<void()>& prepare = {});

double Median(std::vector<double> values);
QJsonArray ToJsonArray(const std::vector<double>& values);

// Wall time of one external command; false in `ok` when it exited non-zero.
double TimeCommand(const QString& program, const QStringList& arguments, bool& ok);

// Peak resident memory of this process since the last reset, in MiB.
double PeakRssMiB();
// Starts a new peak; returns the resident size it starts from.
double ResetPeakRss();
double CurrentRssMiB();

// Seconds to push `bytes` through a plain loopback TCP connection: the machine's own limit.
double LoopbackCopySeconds(qint64 bytes);
// Seconds to send the file `source` over a loopback TCP connection with sendfile, as a server
// does, and write it to the new file `target` as it arrives: the limit of a download.
double SocketToFileSeconds(const QString& source, const QString& target);
