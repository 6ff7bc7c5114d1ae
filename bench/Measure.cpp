#include "bench/Measure.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

Timing Repeat(int count, const std::function<double()>& run, const std::function<void()>& prepare) {
    std::vector<double> seconds;
    for (int i = 0; i < count; ++i) {
        if (prepare)
            prepare();
        // Lets the server finish the previous session: back-to-back logins can wait on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        seconds.push_back(run());
    }
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    const double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    return {seconds.front(), median};
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
    std::thread sender([address, bytes] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        std::vector<char> buffer(512 * 1024, 'x');
        for (qint64 sent = 0; sent < bytes;) {
            const ssize_t n =
                ::send(fd, buffer.data(), std::min<qint64>(buffer.size(), bytes - sent), 0);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(fd);
    });
    const int fd = ::accept(listener, nullptr, nullptr);
    std::vector<char> buffer(512 * 1024);
    while (::recv(fd, buffer.data(), buffer.size(), 0) > 0) {
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    sender.join();
    ::close(fd);
    ::close(listener);
    return seconds;
}
