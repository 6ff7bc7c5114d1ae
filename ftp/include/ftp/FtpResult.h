#pragma once

#include <QByteArray>

// How one step of the FTP layer ended, and why when it failed.
enum class FtpReason {
    Done,
    Refused,               // the server said no; its reply says why
    Unreachable,           // no server answers at that address
    TimedOut,              // the server went silent for too long
    CutOff,                // a connection broke off, or less arrived than the server announced
    BadReply,              // the server's reply made no sense
    NotEncrypted,          // the server no longer offers TLS
    CertificateNotTrusted, // the certificate did not verify
    CertificateChanged,    // not the key trusted earlier in the run
    HostKeyUnknown,        // an SSH key that no known-hosts file names; nothing was sent
    HostKeyChanged,        // not the SSH key known or trusted earlier; nothing was sent
    Cancelled,             // the user cancelled
    LocalFile,             // the local file could not be read or written
    UnusableText,          // a name or field that cannot be sent; nothing was sent
};

class [[nodiscard]] FtpResult {
public:
    FtpResult() = default;
    // `replyCode` and `replyText` are the server's last reply, where there was one.
    explicit FtpResult(FtpReason reason, long replyCode = 0, QByteArray replyText = {})
        : m_reason(reason), m_replyCode(replyCode), m_replyText(std::move(replyText)) {}

    explicit operator bool() const { return m_reason == FtpReason::Done; }
    FtpReason Reason() const { return m_reason; }
    long ReplyCode() const { return m_replyCode; }
    const QByteArray& ReplyText() const { return m_replyText; }

private:
    FtpReason m_reason = FtpReason::Done;
    long m_replyCode = 0;
    QByteArray m_replyText;
};
