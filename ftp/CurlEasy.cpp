#include "ftp/CurlEasy.h"
#include "ftp/TransferBuffer.h"

#include <QFile>

#include <cstring>
#include <future>
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

// Some servers truncate uploads over TLS 1.3; 1.2 is asked for unless the server refuses it.
constexpr long kTlsVersionCap = CURL_SSLVERSION_DEFAULT | CURL_SSLVERSION_MAX_TLSv1_2;

bool IsProtocolVersionRefused(CURLcode code, const char* error) {
    return code == CURLE_SSL_CONNECT_ERROR && std::strstr(error, "protocol version") != nullptr;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

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
                   FtpTimeouts timeouts, TransferMonitor* monitor, const TlsTrust& trust)
    : m_curl(curl_easy_init()), m_address(std::move(address)), m_baseUrl(m_address.BaseUrl()),
      m_user(std::move(user)), m_password(std::move(password)), m_timeouts(timeouts),
      m_monitor(monitor), m_authorityFile(QFile::encodeName(trust.AuthorityFile())),
      m_pin(trust.PinFor(m_address.Key())) {
    // Once a server has spoken TLS in this run, or its certificate is pinned, finding it
    // without TLS means someone stripped it: no login in clear then.
    m_tlsRequired = m_address.tls != TlsMode::Opportunistic || trust.HadTls(m_address.Key()) ||
                    !m_pin.isEmpty();
    // libcurl 7.88 hangs on active data connections with TLS.
    m_passive = m_tlsRequired;
}

CurlEasy::~CurlEasy() {
    if (m_curl)
        QuitWithinLimit([curl = m_curl] { curl_easy_cleanup(curl); });
}

void CurlEasy::QuitWithinLimit(const std::function<void()>& quit) {
    // Quitting sends QUIT and waits for the answer. A server that never answers is cut off
    // after a short while instead of holding the caller up for the whole reply limit.
    curl_socket_t control = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &control) != CURLE_OK)
        control = CURL_SOCKET_BAD;
    m_controlSocket.Watch(control);
    auto quitting = std::async(std::launch::async, quit);
    if (quitting.wait_for(kQuitLimit) == std::future_status::timeout)
        m_controlSocket.CutOff();
    quitting.wait();
}

CURL* CurlEasy::Begin(const QByteArray& url) {
    // A reset keeps the live connection: later requests need no new login.
    curl_easy_reset(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_URL, url.constData());
    // Only FTP: a server text must never make curl speak another protocol with the password.
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(m_curl, CURLOPT_REDIR_PROTOCOLS_STR, "ftp,ftps");
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
    ApplyDataConnectionMode();
    ApplyTls();
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
    if (m_tlsVersionCapped)
        curl_easy_setopt(m_curl, CURLOPT_SSLVERSION, kTlsVersionCap);
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

int CurlEasy::WatchLogin(CURL*, curl_infotype type, char* text, size_t size, void* self) {
    // libcurl names the TLS version of every handshake it completes.
    static const QByteArray kHandshakeDone = "SSL connection using ";
    const QByteArray line = QByteArray::fromRawData(text, static_cast<qsizetype>(size));
    if (type == CURLINFO_TEXT && line.startsWith(kHandshakeDone)) {
        const QByteArray rest = line.mid(kHandshakeDone.size());
        static_cast<CurlEasy*>(self)->m_tlsVersion = rest.left(rest.indexOf(' '));
    }
    return 0;
}

CURLcode CurlEasy::Login() {
    CURLcode code = CURLE_OK;
    for (;;) {
        // A request with no body sends only the login: the server's answer to it is the check.
        Begin(m_baseUrl);
        curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, WatchLogin);
        curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
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

long CurlEasy::VerifyResult() const {
    long result = 0;
    curl_easy_getinfo(m_curl, CURLINFO_SSL_VERIFYRESULT, &result);
    return result;
}

void CurlEasy::ApplyDataConnectionMode() {
    // Active mode on the control connection's own address; passive once that has failed.
    curl_easy_setopt(m_curl, CURLOPT_FTPPORT, m_passive ? nullptr : "-");
}

CURLcode CurlEasy::Perform(const std::function<void()>& rewind) {
    CURLcode code = curl_easy_perform(m_curl);
    if (!m_passive && IsActiveModeFailure(code, ResponseCode())) {
        m_passive = true;
        ApplyDataConnectionMode();
        if (rewind)
            rewind();
        code = curl_easy_perform(m_curl);
    }
    m_loggedIn = m_loggedIn || code == CURLE_OK;
    return code;
}

void CurlEasy::DropConnection() {
    QuitWithinLimit([this] {
        CURL* curl = Begin(m_baseUrl);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_perform(curl);
    });
}

long CurlEasy::ResponseCode() const {
    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}
