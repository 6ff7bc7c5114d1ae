#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Minimum and median of repeated timings, in seconds.
struct Timing {
    double min = 0;
    double median = 0;
};

// Runs `run` (which returns the seconds it measured) `count` times; `prepare` runs untimed
// before each run, and the server is given a moment to settle.
Timing Repeat(int count, const std::function<double()>& run,
              const std::function<void()>& prepare = {});

// Wall time of one external command; false in `ok` when it exited non-zero.
double TimeCommand(const QString& program, const QStringList& arguments, bool& ok);

// Peak resident memory of this process since the last reset, in MiB.
double PeakRssMiB();
// Starts a new peak; returns the resident size it starts from.
double ResetPeakRss();
double CurrentRssMiB();

// Seconds to push `bytes` through a plain loopback TCP connection: the machine's own limit.
double LoopbackCopySeconds(qint64 bytes);
