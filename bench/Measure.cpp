#include "Measure.h"

#include "ftp/TransferBuffer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

double Settled(const std::function<double()>& run, const std::function<void()>& prepare) {
    // The writes the previous run queued reach the disk untimed, and the server finishes the
    // previous session: back-to-back logins can wait on it.
    ::sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Last: a run then reuses the memory its predecessor's copies free. Memory left free for a
    // while goes back to the host of a virtual machine, and fetching it back can quadruple a run.
    if (prepare)
        prepare();
    return run();
}

QJsonArray ToJsonArray(const std::vector<double>& values) {
    QJsonArray array;
    for (double value : values)
        array.append(value);
    return array;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double PairedTiming::MedianRatio() const {
    return Median(ratios);
}

double PairedTiming::LowestRatio() const {
    return ratios.empty() ? 0 : *std::min_element(ratios.begin(), ratios.end());
}

double PairedTiming::HighestRatio() const {
    return ratios.empty() ? 0 : *std::max_element(ratios.begin(), ratios.end());
}

double PairedTiming::TolmiMedian() const {
    return Median(tolmi);
}

double PairedTiming::BaselineMedian() const {
    return Median(baseline);
}

QJsonObject PairedTiming::ToJson() const {
    return {{"warm_up_s", QJsonObject{{"tolmi", tolmiWarmUp}, {"baseline", baselineWarmUp}}},
            {"tolmi_s", ToJsonArray(tolmi)},
            {"baseline_s", ToJsonArray(baseline)},
            {"pair_ratios", ToJsonArray(ratios)},
            {"tolmi_median_s", TolmiMedian()},
            {"baseline_median_s", BaselineMedian()},
            {"ratio", MedianRatio()},
            {"ratio_lowest", LowestRatio()},
            {"ratio_highest", HighestRatio()}};
}

PairedTiming RunPairs(int pairs, const std::function<double()>& tolmi,
                      const std::function<double()>& baseline,
                      const std::function<void()>& prepare) {
    PairedTiming timing;
    timing.tolmiWarmUp = Settled(tolmi, prepare);
    timing.baselineWarmUp = Settled(baseline, prepare);
    for (int i = 0; i < pairs; ++i) {
        double tolmiSeconds = 0;
        double baselineSeconds = 0;
        if (i % 2 == 0) {
            tolmiSeconds = Settled(tolmi, prepare);
            baselineSeconds = Settled(baseline, prepare);
        } else {
            baselineSeconds = Settled(baseline, prepare);
            tolmiSeconds = Settled(tolmi, prepare);
        }
        timing.tolmi.push_back(tolmiSeconds);
        timing.baseline.push_back(baselineSeconds);
        timing.ratios.push_back(baselineSeconds > 0 ? tolmiSeconds / baselineSeconds : 0);
    }
    return timing;
}

double TimeCommand(const QString& program, const QStringList& arguments, bool& ok) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return seconds;
}

namespace {

double StatusFieldMiB(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// Seconds from listening to the end of `receive`: `send` gets the connecting end on a thread
// of its own and closes it when done, `receive` the accepted end.
double TimeLoopbackConnection(const std::function<void(int)>& send,
                              const std::function<void(int)>& receive) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    QElapsedTimer timer;
    timer.start();
    std::thread sender([address, &send] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        send(fd);
        ::close(fd);
    });
    const int fd = ::accept(listener, nullptr, nullptr);
    receive(fd);
    const double seconds = timer.nsecsElapsed() / 1e9;
    sender.join();
    ::close(fd);
    ::close(listener);
    return seconds;
}

} // namespace

double PeakRssMiB() {
    return StatusFieldMiB("VmHWM:");
}

double CurrentRssMiB() {
    return StatusFieldMiB("VmRSS:");
}

double ResetPeakRss() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    return CurrentRssMiB();
}

double LoopbackCopySeconds(qint64 bytes) {
    auto send = [bytes](int fd) {
        std::vector<char> buffer(kTransferBufferBytes, 'x');
        for (qint64 sent = 0; sent < bytes;) {
            const ssize_t n =
                ::send(fd, buffer.data(), std::min<qint64>(buffer.size(), bytes - sent), 0);
            if (n <= 0)
                break;
            sent += n;
        }
    };
    auto receive = [](int fd) {
        std::vector<char> buffer(kTransferBufferBytes);
        while (::recv(fd, buffer.data(), buffer.size(), 0) > 0) {
        }
    };
    return TimeLoopbackConnection(send, receive);
}

double SocketToFileSeconds(const QString& source, const QString& target) {
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(target).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (in < 0 || out < 0)
        qFatal("cannot open %s or %s", qPrintable(source), qPrintable(target));
    auto send = [in](int fd) {
        while (::sendfile(fd, in, nullptr, kTransferBufferBytes) > 0) {
        }
    };
    auto receive = [out, &target](int fd) {
        std::vector<char> buffer(kTransferBufferBytes);
        for (ssize_t n; (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
            for (ssize_t written = 0; written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written,
                                          std::min<ssize_t>(n - written, kFileWriteBytes));
                if (w <= 0)
                    qFatal("cannot write %s", qPrintable(target));
                written += w;
            }
        }
        ::close(out);
    };
    const double seconds = TimeLoopbackConnection(send, receive);
    ::close(in);
    return seconds;
}
