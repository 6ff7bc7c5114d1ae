#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <atomic>

// What the thread doing FTP work reports, and how another thread stops it. Every field may
// be read and written from either thread.
//
// The contract, in one place:
// - The window owns the monitor and resets it when a command opens its connection; the
//   session hands it to each connection, whose libcurl handle reports into it.
// - Only a worker thread runs FTP work; it writes bytes and entries here and returns its
//   result, which the window takes over on its own thread after the worker has ended.
// - Cancel (the 取消 button, Escape, closing the window) may come from any thread: the
//   running request fails within about a second, and the command fails as a failed login or
//   transfer does. A cancelled command tidies up (partial files, temporary uploads) itself.
class TransferMonitor {
public:
    // A new command: nothing done, nothing cancelled.
    void Reset();

    // The running request stops within about a second and fails.
    void Cancel() { m_cancelled = true; }
    [[nodiscard]] bool IsCancelled() const { return m_cancelled; }

    void SetBytes(qint64 done, qint64 total);
    void SetEntries(qint64 entries) { m_entries = entries; }
    // A size known beforehand, for a transfer whose server does not announce one.
    void SetExpectedTotal(qint64 total) { m_expectedTotal = total; }

    // The logged-in connection's TLS version as libcurl names it ("TLSv1.2"); empty: clear text.
    void SetTlsVersion(const QByteArray& version);
    static constexpr int kNotConnected = -2;
    static constexpr int kClearText = -1;
    static constexpr int kSsh = -3;
    void SetSsh() { m_tlsMinorVersion = kSsh; }
    // N of "TLS 1.N", or one of the three above.
    int TlsMinorVersion() const { return m_tlsMinorVersion; }

    qint64 BytesDone() const { return m_done; }
    // 0 when unknown.
    qint64 BytesTotal() const;
    qint64 Entries() const { return m_entries; }

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    std::atomic<qint64> m_expectedTotal{0};
    std::atomic<qint64> m_entries{0};
    std::atomic<int> m_tlsMinorVersion{kNotConnected};
};
