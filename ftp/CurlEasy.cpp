#include "CurlEasy.h"
#include "ftp/TransferBuffer.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <cstring>
#include <future>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// How long a release waits for the server to answer QUIT before it cuts the connection: the
// window waits for the release.
constexpr std::chrono::milliseconds kQuitLimit(1500);

// 425: the server took PORT but then could not connect back (NAT, a firewall).
bool IsActiveModeFailure(CURLcode code, long response) {
    return code == CURLE_FTP_PORT_FAILED || code == CURLE_FTP_ACCEPT_FAILED ||
           code == CURLE_FTP_ACCEPT_TIMEOUT || (code != CURLE_OK && response == 425);
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// libcurl takes these two in seconds.
long WholeSeconds(long ms) {
    return (ms + 999) / 1000;
}

// libcurl calls this often while data moves and about once a second while it waits, so a
// cancel takes effect within a second.
int ReportProgress(void* monitor, curl_off_t downloadTotal, curl_off_t downloaded,
                   curl_off_t uploadTotal, curl_off_t uploaded) {
    auto* transferMonitor = static_cast<TransferMonitor*>(monitor);
    if (uploadTotal > 0 || uploaded > 0)
        transferMonitor->SetBytes(uploaded, uploadTotal);
    else
        transferMonitor->SetBytes(downloaded, downloadTotal);
    return transferMonitor->IsCancelled() ? 1 : 0;
}

// Nothing older than TLS 1.2. Some servers truncate uploads over TLS 1.3; 1.2 is asked for
// unless the server refuses it.
constexpr long kTlsFloor = CURL_SSLVERSION_TLSv1_2;
constexpr long kTlsVersionCap = kTlsFloor | CURL_SSLVERSION_MAX_TLSv1_2;
// Suites without a certificate would let a pinned key go unchecked: with verification off,
// libcurl checks the pin only when the server sends a certificate.
constexpr const char* kTlsCiphers = "DEFAULT:!aNULL";

bool IsProtocolVersionRefused(CURLcode code, const char* error) {
    return code == CURLE_SSL_CONNECT_ERROR && std::strstr(error, "protocol version") != nullptr;
}

struct CurlGlobal {
    CurlGlobal() {
        // libcurl would write every TLS session key to the file this names: the program takes
        // nothing from its environment.
        qunsetenv("SSLKEYLOGFILE");
        curl_global_init(CURL_GLOBAL_DEFAULT);
    }
    ~CurlGlobal() { curl_global_cleanup(); }
};

bool IsSftpRefusal(CURLcode code) {
    switch (code) {
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
        return true;
    default:
        return false;
    }
}

// There is no anonymous SSH: as for ssh, no login name means the local user's.
QByteArray LocalUserName() {
    const passwd* user = ::getpwuid(::geteuid());
    return user ? QByteArray(user->pw_name) : QByteArray();
}

// The key files ssh offers by default that exist, read from $HOME as libcurl does.
std::vector<QByteArray> DefaultKeyFiles() {
    std::vector<QByteArray> files;
    for (const char* name : {"id_rsa", "id_ecdsa", "id_ed25519", "id_dsa"}) {
        const QString path = QDir::homePath() + "/.ssh/" + name;
        if (QFile::exists(path))
            files.push_back(QFile::encodeName(path));
    }
    return files;
}

int CloseSocket(void* control, curl_socket_t socket) {
    static_cast<CurlEasy::ControlSocket*>(control)->Close(socket);
    return 0;
}

} // namespace

void CurlEasy::ControlSocket::Watch(curl_socket_t socket) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_socket = socket;
}

void CurlEasy::ControlSocket::Close(curl_socket_t socket) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (socket == m_socket)
        m_socket = CURL_SOCKET_BAD;
    ::close(socket);
}

void CurlEasy::ControlSocket::CutOff() {
    // Under the lock the socket is still open: its number cannot belong to anything else yet.
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_socket != CURL_SOCKET_BAD)
        ::shutdown(m_socket, SHUT_RDWR);
}

void CurlEasy::InitializeLibrary() {
    static CurlGlobal global;
}

CurlEasy::CurlEasy(ServerAddress address, QByteArray user, QByteArray password,
                   FtpTimeouts timeouts, TransferMonitor* monitor, TlsTrust& trust)
    : m_curl(curl_easy_init()), m_address(std::move(address)), m_baseUrl(m_address.BaseUrl()),
      m_user(std::move(user)), m_password(std::move(password)), m_timeouts(timeouts),
      m_monitor(monitor), m_trust(trust), m_authorityFile(QFile::encodeName(trust.AuthorityFile())),
      m_pin(trust.PinFor(m_address.Key())) {
    // Once a server has spoken TLS in this run, or its certificate is pinned, finding it
    // without TLS means someone stripped it: no login in clear then.
    m_tlsRequired = m_address.tls != TlsMode::Opportunistic || trust.HadTls(m_address.Key()) ||
                    !m_pin.isEmpty();
    // libcurl 7.88 hangs on active data connections with TLS.
    m_passive = m_tlsRequired;
    if (m_address.isSftp) {
        m_hostKeys =
            std::make_unique<HostKeyCheck>(m_address.Key(), trust.HostKeyFor(m_address.Key()));
        if (m_user.isEmpty())
            m_user = LocalUserName();
    }
}

CurlEasy::~CurlEasy() {
    if (m_curl)
        QuitWithinLimit([curl = m_curl] { curl_easy_cleanup(curl); });
}

void CurlEasy::WatchControlSocket() {
    curl_socket_t control = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &control) != CURLE_OK)
        control = CURL_SOCKET_BAD;
    m_controlSocket.Watch(control);
}

void CurlEasy::QuitWithinLimit(const std::function<void()>& quit) {
    // Quitting sends QUIT and waits for the answer. A server that never answers is cut off
    // after a short while instead of holding the caller up for the whole reply limit.
    WatchControlSocket();
    auto quitting = std::async(std::launch::async, quit);
    if (quitting.wait_for(kQuitLimit) == std::future_status::timeout)
        m_controlSocket.CutOff();
    quitting.wait();
}

CURL* CurlEasy::Begin(const QByteArray& url) {
    // A reset keeps the live connection: later requests need no new login.
    curl_easy_reset(m_curl);
    m_dataWatch = nullptr;
    curl_easy_setopt(m_curl, CURLOPT_URL, url.constData());
    // Only what the server text names: it must never make curl speak another protocol with the
    // password.
    const char* protocols = m_address.isSftp ? "sftp" : "ftp,ftps";
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(m_curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_error);
    // Data no request asked for (the size lines of a SIZE, a listing read through the debug
    // hook) is dropped, not written to the standard output.
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    // A cancelled host-name lookup is left to end on its own: libcurl would wait for it.
    curl_easy_setopt(m_curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 1L);
    // ".." is a real directory name here, not something to fold away.
    curl_easy_setopt(m_curl, CURLOPT_PATH_AS_IS, 1L);
    // Only what the user typed: never a proxy named in the environment.
    curl_easy_setopt(m_curl, CURLOPT_PROXY, "");
    // Sockets close through the watch, so that a release can cut a silent server off safely.
    curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETDATA, &m_controlSocket);
    curl_easy_setopt(m_curl, CURLOPT_SOCKOPTFUNCTION, CheckSocket);
    curl_easy_setopt(m_curl, CURLOPT_SOCKOPTDATA, this);
    // libcurl tells of every TLS handshake it completes only in its trace.
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, Trace);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
    if (!m_user.isEmpty()) {
        // With no login name, curl logs in as anonymous.
        curl_easy_setopt(m_curl, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(m_curl, CURLOPT_PASSWORD, m_password.constData());
    }
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, ConnectLimitMs(url));
    curl_easy_setopt(m_curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, WholeSeconds(m_timeouts.responseMs));
    curl_easy_setopt(m_curl, CURLOPT_ACCEPTTIMEOUT_MS, m_timeouts.acceptMs);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, WholeSeconds(m_timeouts.stallMs));
    // A passive reply may name any address; data goes only to the server already talked to.
    curl_easy_setopt(m_curl, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(m_curl, CURLOPT_BUFFERSIZE, kTransferBufferBytes);
    curl_easy_setopt(m_curl, CURLOPT_UPLOAD_BUFFERSIZE, kTransferBufferBytes);
    if (m_address.isSftp) {
        ApplySsh();
    } else {
        ApplyDataConnectionMode();
        ApplyTls();
    }
    if (m_monitor) {
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, m_monitor);
    }
    return m_curl;
}

long CurlEasy::ConnectLimitMs(const QByteArray& url) const {
    if (!m_loggedIn)
        return m_timeouts.connectMs;
    // libcurl counts a data connection's connect limit from the start of its request, so the
    // replies before it (a CWD per path segment, EPSV, PASV) would eat into it: each of them
    // is given its own reply limit on top. A URL has more slashes than such replies.
    return m_timeouts.connectMs + m_timeouts.responseMs * url.count('/');
}

void CurlEasy::ApplyTls() {
    // Data connections are protected too (PROT P) and resume the control connection's TLS
    // session, as many servers demand: libcurl's session cache stays on for that.
    curl_easy_setopt(m_curl, CURLOPT_USE_SSL, m_tlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY);
    curl_easy_setopt(m_curl, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(m_curl, CURLOPT_SSLVERSION, m_tlsVersionCapped ? kTlsVersionCap : kTlsFloor);
    curl_easy_setopt(m_curl, CURLOPT_SSL_CIPHER_LIST, kTlsCiphers);
    if (!m_authorityFile.isEmpty())
        curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_authorityFile.constData());
    if (!m_pin.isEmpty()) {
        // The user trusted this very key: it replaces the verification, on data connections
        // too.
        curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(m_curl, CURLOPT_PINNEDPUBLICKEY, m_pin.constData());
    }
}

void CurlEasy::ApplySsh() {
    const long methods = !m_password.isEmpty() ? CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD
                         : m_keyFile.isEmpty() ? CURLSSH_AUTH_AGENT
                                               : CURLSSH_AUTH_PUBLICKEY;
    curl_easy_setopt(m_curl, CURLOPT_SSH_AUTH_TYPES, methods);
    if (!m_keyFile.isEmpty())
        curl_easy_setopt(m_curl, CURLOPT_SSH_PRIVATE_KEYFILE, m_keyFile.constData());
    m_hostKeys->Apply(m_curl);
}

std::optional<ServerHostKey> CurlEasy::UnknownHostKey() const {
    return m_hostKeys ? m_hostKeys->UnknownKey() : std::nullopt;
}

void CurlEasy::WatchData(DataWatch watch, void* context) {
    m_dataWatch = watch;
    m_dataWatchContext = context;
}

int CurlEasy::Trace(CURL*, curl_infotype type, char* text, size_t size, void* self) {
    // libcurl names the TLS version of every handshake it completes.
    static const QByteArray kHandshakeDone = "SSL connection using ";
    static const QByteArray kReused = "Re-using existing connection";
    auto* easy = static_cast<CurlEasy*>(self);
    const QByteArray line = QByteArray::fromRawData(text, static_cast<qsizetype>(size));
    if (type == CURLINFO_DATA_IN && easy->m_dataWatch)
        easy->m_dataWatch(text, size, easy->m_dataWatchContext);
    // A server reply comes only on a control connection that is up.
    if (type == CURLINFO_HEADER_IN || (type == CURLINFO_TEXT && line.startsWith(kReused)))
        easy->m_controlConnected = true;
    if (type == CURLINFO_HEADER_IN)
        easy->m_lastReply = line.trimmed();
    if (type == CURLINFO_TEXT && line.startsWith(kHandshakeDone)) {
        const QByteArray rest = line.mid(kHandshakeDone.size());
        easy->m_tlsVersion = rest.left(rest.indexOf(' '));
        // Whatever becomes of the request: from now on, no clear text with this server.
        easy->m_trust.RememberTls(easy->m_address.Key());
    }
    return 0;
}

int CurlEasy::CheckSocket(void* self, curl_socket_t socket, curlsocktype purpose) {
    auto* easy = static_cast<CurlEasy*>(self);
    if (purpose == CURLSOCKTYPE_ACCEPT)
        return easy->IsFromServer(socket) ? CURL_SOCKOPT_OK : CURL_SOCKOPT_ERROR;
    // A new control connection of a request that allows clear text, to a server that has
    // spoken TLS: refused before it connects, the request runs again requiring TLS.
    if (!easy->m_controlConnected && !easy->m_tlsRequired &&
        easy->m_trust.HadTls(easy->m_address.Key())) {
        easy->m_clearTextRefused = true;
        return CURL_SOCKOPT_ERROR;
    }
    return CURL_SOCKOPT_OK;
}

bool CurlEasy::IsFromServer(curl_socket_t accepted) const {
    // An active data connection counts only from the address the control connection talks to.
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(accepted, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return false;
    char text[INET6_ADDRSTRLEN] = {};
    const void* address = nullptr;
    if (peer.ss_family == AF_INET)
        address = &reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr;
    else if (peer.ss_family == AF_INET6)
        address = &reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
    char* server = nullptr;
    return address && inet_ntop(peer.ss_family, address, text, sizeof text) &&
           curl_easy_getinfo(m_curl, CURLINFO_PRIMARY_IP, &server) == CURLE_OK && server &&
           std::strcmp(text, server) == 0;
}

CURLcode CurlEasy::Login() {
    if (m_address.isSftp)
        return LoginOverSsh();
    CURLcode code = CURLE_OK;
    for (;;) {
        // A request with no body sends only the login: the server's answer to it is the check.
        Begin(m_baseUrl);
        curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L);
        m_tlsVersion.clear();
        code = Perform();
        if (!m_tlsVersionCapped || !IsProtocolVersionRefused(code, m_error))
            break;
        // Refused before anything was sent: once more without the cap.
        m_tlsVersionCapped = false;
    }
    if (code == CURLE_OK && !m_tlsVersion.isEmpty())
        m_passive = true;
    return code;
}

CURLcode CurlEasy::LoginOverSsh() {
    // With a password, one login. Without: the agent, then each default key file, one login
    // each, as libcurl offers one key file per connection.
    std::vector<QByteArray> keys;
    if (m_password.isEmpty())
        keys = DefaultKeyFiles();
    if (keys.empty() || !qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK"))
        keys.insert(keys.begin(), QByteArray());
    CURLcode code = CURLE_OK;
    for (const QByteArray& key : keys) {
        m_keyFile = key;
        Begin(m_baseUrl);
        curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L);
        code = Perform();
        if (code != CURLE_LOGIN_DENIED)
            break;
    }
    return code;
}

void CurlEasy::ApplyDataConnectionMode() {
    // Active mode on the control connection's own address; passive once that has failed.
    curl_easy_setopt(m_curl, CURLOPT_FTPPORT, m_passive ? nullptr : "-");
}

CURLcode CurlEasy::PerformOnce() {
    m_controlConnected = false;
    m_clearTextRefused = false;
    m_lastReply.clear();
    return curl_easy_perform(m_curl);
}

CURLcode CurlEasy::Perform(const std::function<void()>& rewind) {
    CURLcode code = PerformOnce();
    if (m_clearTextRefused) {
        // Nothing was sent: the new connection was refused before it connected.
        m_tlsRequired = true;
        m_passive = true;
        ApplyDataConnectionMode();
        ApplyTls();
        if (rewind)
            rewind();
        code = PerformOnce();
    }
    // libcurl 7.88 can end an active-mode transfer at the server's 150 as if it were done when
    // that reply comes quickly: neither data nor a final reply, so the wait has failed.
    if (code == CURLE_OK && !m_address.isSftp && ResponseCode() / 100 == 1)
        code = CURLE_FTP_ACCEPT_TIMEOUT;
    if (!m_passive && IsActiveModeFailure(code, ResponseCode())) {
        // The server still owes the transfer command its reply, which this connection would
        // read as the next command's: libcurl finds it cut off and logs in afresh.
        if (code == CURLE_FTP_ACCEPT_TIMEOUT) {
            WatchControlSocket();
            m_controlSocket.CutOff();
        }
        m_passive = true;
        ApplyDataConnectionMode();
        if (rewind)
            rewind();
        code = PerformOnce();
    }
    m_loggedIn = m_loggedIn || code == CURLE_OK;
    return code;
}

void CurlEasy::DropConnection() {
    QuitWithinLimit([this] {
        CURL* curl = Begin(m_baseUrl);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
        (void)PerformOnce();
    });
}

long CurlEasy::ResponseCode() const {
    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

FtpResult CurlEasy::Outcome(CURLcode code) const {
    if (code == CURLE_OK)
        return FtpResult();
    const long reply = ResponseCode();
    const auto result = [&](FtpReason reason) { return FtpResult(reason, reply, m_lastReply); };
    if (m_monitor && m_monitor->IsCancelled())
        return result(FtpReason::Cancelled);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return result(FtpReason::TimedOut);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return result(FtpReason::Unreachable);
    case CURLE_USE_SSL_FAILED:
        return result(FtpReason::NotEncrypted);
    case CURLE_PEER_FAILED_VERIFICATION:
        return result(m_hostKeys ? m_hostKeys->Refusal() : FtpReason::CertificateNotTrusted);
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return result(FtpReason::CertificateChanged);
    // The file callbacks end a transfer this way only when the local file fails.
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
        return result(FtpReason::LocalFile);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SSH:
        return result(FtpReason::CutOff);
    default:
        break;
    }
    // An SFTP server answers with a status, not an FTP reply: libcurl's code says what it was.
    if (m_address.isSftp)
        return result(IsSftpRefusal(code) ? FtpReason::Refused : FtpReason::BadReply);
    return result(reply >= 400 ? FtpReason::Refused : FtpReason::BadReply);
}
