#pragma once

#include "ftp/FtpTimeouts.h"
#include "ftp/TransferMonitor.h"

#include <QByteArray>
#include <curl/curl.h>
#include <functional>

// The libcurl handle of one FTP connection, private to the FTP layer. It keeps the logged-in
// control connection between requests, and sets on every request the options they all share.
class CurlEasy {
public:
    // `monitor`, when given, sees the progress of every request and can cancel it.
    CurlEasy(QByteArray baseUrl, QByteArray user, QByteArray password, FtpTimeouts timeouts,
             TransferMonitor* monitor);
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    const QByteArray& BaseUrl() const { return m_baseUrl; }

    // Starts a request on `url` with the shared options; the caller adds its own and performs.
    CURL* Begin(const QByteArray& url);

    // Logs in: a request with no body sends only the login, so the server's answer is the
    // check.
    [[nodiscard]] CURLcode Login();

    // Runs the request. When the server cannot open or refuses an active data connection, the
    // connection switches to passive mode and runs it once more, after `rewind` has reset the
    // caller's data source or sink.
    [[nodiscard]] CURLcode Perform(const std::function<void()>& rewind = {});

    [[nodiscard]] long ResponseCode() const;
    TransferMonitor* Monitor() const { return m_monitor; }

private:
    void ApplyDataConnectionMode();

    CURL* m_curl;
    QByteArray m_baseUrl;
    QByteArray m_user;
    QByteArray m_password;
    FtpTimeouts m_timeouts;
    TransferMonitor* m_monitor;
    bool m_passive = false;
};
