#pragma once

#include "HostKeyCheck.h"
#include "ftp/FtpResult.h"
#include "ftp/FtpTimeouts.h"
#include "ftp/TlsTrust.h"
#include "ftp/TransferMonitor.h"
#include "listing/ServerAddress.h"

#include <QByteArray>
#include <curl/curl.h>
#include <functional>
#include <memory>
#include <mutex>

// The libcurl handle of one FTP or SFTP connection, private to the FTP layer. It keeps the
// logged-in control connection between requests, and sets on every request the options they all
// share, TLS or the SSH login and host-key check among them.
class CurlEasy {
public:
    // Starts libcurl for the whole program; call once on the main thread before any other
    // thread uses it.
    static void InitializeLibrary();

    // `monitor`, when given, sees the progress of every request and can cancel it. What
    // `trust` knows decides how TLS is asked for and verified; every completed TLS handshake
    // with the server is remembered there.
    CurlEasy(ServerAddress address, QByteArray user, QByteArray password, FtpTimeouts timeouts,
             TransferMonitor* monitor, TlsTrust& trust);
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    // False when libcurl could not make a handle: nothing else may be called then.
    [[nodiscard]] bool IsValid() const { return m_curl != nullptr; }
    const QByteArray& BaseUrl() const { return m_baseUrl; }
    [[nodiscard]] bool IsSftp() const { return m_address.isSftp; }
    // The SSH key that stopped the last login because no known-hosts file names it.
    std::optional<ServerHostKey> UnknownHostKey() const;

    // The TLS version of the logged-in control connection ("TLSv1.2"); empty in clear text.
    const QByteArray& TlsVersion() const { return m_tlsVersion; }

    // Starts a request on `url` with the shared options; the caller adds its own and performs.
    CURL* Begin(const QByteArray& url);

    // The request's data as it arrives, before libcurl converts line ends, goes to `watch`
    // too.
    using DataWatch = void (*)(const char* data, size_t size, void* context);
    void WatchData(DataWatch watch, void* context);

    // Logs in: a request with no body sends only the login, so the server's answer is the
    // check. Over SSH an empty password means the agent, then each default key file.
    [[nodiscard]] CURLcode Login();

    // Runs the request. When the server cannot open or refuses an active data connection, the
    // connection switches to passive mode and runs it once more, after `rewind` has reset the
    // caller's data source or sink.
    [[nodiscard]] CURLcode Perform(const std::function<void()>& rewind = {});

    [[nodiscard]] long ResponseCode() const;

    // What `code`, the end of the last request, means for the step that ran it, with the
    // server's last reply.
    FtpResult Outcome(CURLcode code) const;

    // Closes the control connection, as briefly as a release; the next request logs in
    // afresh. After a refused request libcurl 7.88 can end the next active-mode transfer
    // before its data connection arrives, with no data and no error.
    void DropConnection();
    TransferMonitor* Monitor() const { return m_monitor; }

    // The control connection's socket, which a release may have to cut off from another
    // thread: libcurl closes its sockets through Close, so the number is never stale.
    class ControlSocket {
    public:
        void Watch(curl_socket_t socket);
        void Close(curl_socket_t socket);
        void CutOff();

    private:
        std::mutex m_mutex;
        curl_socket_t m_socket = CURL_SOCKET_BAD;
    };

private:
    // Runs `quit`, which ends the control connection, and cuts the connection off when the
    // server has not answered QUIT within a short while.
    void QuitWithinLimit(const std::function<void()>& quit);
    // Makes the last request's control connection the one a cut-off ends.
    void WatchControlSocket();
    void ApplyDataConnectionMode();
    long ConnectLimitMs(const QByteArray& url) const;
    void ApplyTls();
    void ApplySsh();
    [[nodiscard]] CURLcode LoginOverSsh();
    [[nodiscard]] CURLcode PerformOnce();
    [[nodiscard]] bool IsFromServer(curl_socket_t accepted) const;
    static int Trace(CURL*, curl_infotype type, char* text, size_t size, void* self);
    static int CheckSocket(void* self, curl_socket_t socket, curlsocktype purpose);

    CURL* m_curl;
    ServerAddress m_address;
    QByteArray m_baseUrl;
    QByteArray m_user;
    QByteArray m_password;
    FtpTimeouts m_timeouts;
    TransferMonitor* m_monitor;
    TlsTrust& m_trust;
    QByteArray m_authorityFile;
    // Changed only between connections: libcurl reuses a connection only with the same setting.
    bool m_tlsRequired;
    QByteArray m_pin;
    QByteArray m_tlsVersion;
    bool m_tlsVersionCapped = true;
    bool m_passive = false;
    bool m_loggedIn = false;
    // Per request: whether its control connection is up, and whether a new one was refused
    // because it could have gone without TLS.
    bool m_controlConnected = false;
    bool m_clearTextRefused = false;
    QByteArray m_lastReply;
    DataWatch m_dataWatch = nullptr;
    void* m_dataWatchContext = nullptr;
    ControlSocket m_controlSocket;
    // SSH only: the host-key check, and the key file the login offers (empty: the agent).
    std::unique_ptr<HostKeyCheck> m_hostKeys;
    QByteArray m_keyFile;
    char m_error[CURL_ERROR_SIZE] = {};
};
