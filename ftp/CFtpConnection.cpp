#include "ftp/CFtpConnection.h"

#include "CurlEasy.h"
#include "FileSink.h"
#include "UniqueFd.h"
#include "ftp/MlsdSupport.h"
#include "listing/ListingParser.h"
#include "listing/RemoteName.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <cerrno>
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every byte that could change the meaning of a URL is percent-encoded.
QByteArray Escape(const QByteArray& segment) {
    char* escaped =
        curl_easy_escape(nullptr, segment.constData(), static_cast<int>(segment.size()));
    QByteArray result(escaped);
    curl_free(escaped);
    return result;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* sink) {
    // Zero makes curl fail the transfer.
    return static_cast<FileSink*>(sink)->Append(data, size * count) ? size * count : 0;
}

size_t ReadFromFile(char* buffer, size_t size, size_t count, void* userdata) {
    const int fd = *static_cast<int*>(userdata);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size * count);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            return CURL_READFUNC_ABORT;
    }
}

// Ends a request at its first byte of data.
size_t StopAtFirstByte(char*, size_t, size_t, void*) {
    return 0;
}

struct ListingSink {
    ListingParser* parser;
    TransferMonitor* monitor;
};

// libcurl reads listings in ASCII mode and turns every CR, even one inside a name, into a line
// end before the write callback sees the data; the data watch sees the bytes as they came.
void FeedParser(const char* data, size_t size, void* userdata) {
    auto* sink = static_cast<ListingSink*>(userdata);
    sink->parser->Feed(data, size);
    if (sink->monitor)
        sink->monitor->SetEntries(static_cast<qint64>(sink->parser->Entries().size()));
}

// The command lines of a request, in libcurl's list form.
class CurlCommandList {
public:
    explicit CurlCommandList(const std::vector<QByteArray>& commands) {
        for (const QByteArray& command : commands)
            m_list = curl_slist_append(m_list, command.constData());
    }
    ~CurlCommandList() { curl_slist_free_all(m_list); }
    CurlCommandList(const CurlCommandList&) = delete;
    CurlCommandList& operator=(const CurlCommandList&) = delete;
    curl_slist* Get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

constexpr long kTidyUpTimeoutMs = 1000;

// A hidden name no user picks, for an upload until it is complete.
QByteArray TemporaryUploadName() {
    return ".tolmi-" + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
}

bool IsUsableName(const QByteArray& name) {
    return !name.isEmpty() && RemoteName::IsSendable(QByteArrayView(name));
}

bool IsUsablePath(const RemotePath& path) {
    for (const QByteArray& segment : path.Segments()) {
        if (!IsUsableName(segment))
            return false;
    }
    return true;
}

// The server will not store under that name (550, 553).
bool IsRefusedName(long response) {
    return response == 550 || response == 553;
}

// A 5xx reply to MLSD: the server does not know the command.
bool IsRefusedCommand(CURLcode code, long response) {
    return code != CURLE_OK && response >= 500 && response < 600;
}

// Uploads the open file to `url`.
CURLcode Store(CurlEasy& easy, const QByteArray& url, int fd, qint64 size) {
    ::lseek(fd, 0, SEEK_SET);
    CURL* curl = easy.Begin(url);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadFromFile);
    curl_easy_setopt(curl, CURLOPT_READDATA, &fd);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    return easy.Perform([fd] { ::lseek(fd, 0, SEEK_SET); });
}

// Sends `commands` in the directory at `url`; `tidyUp` lets it run after a cancel, briefly.
CURLcode SendCommands(CurlEasy& easy, const QByteArray& url,
                      const std::vector<QByteArray>& commands, bool tidyUp = false) {
    CurlCommandList list(commands);
    CURL* curl = easy.Begin(url);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, list.Get());
    if (tidyUp) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTidyUpTimeoutMs);
    }
    return easy.Perform();
}

// The size the server gives for the file at `url`; -1 when it gives none.
curl_off_t ServerSize(CurlEasy& easy, const QByteArray& url) {
    CURL* curl = easy.Begin(url);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_off_t size = -1;
    if (easy.Perform() != CURLE_OK ||
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) != CURLE_OK)
        size = -1;
    return size;
}

// False only when the server reports another size for the file at `url` than `size`.
bool HasSize(CurlEasy& easy, const QByteArray& url, qint64 size) {
    const curl_off_t stored = ServerSize(easy, url);
    return stored < 0 || stored == size;
}

// True only when the server says no file of that name exists (550 to SIZE); a server without
// SIZE leaves it open.
bool IsAbsent(CurlEasy& easy, const QByteArray& url) {
    CURL* curl = easy.Begin(url);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    return easy.Perform() == CURLE_REMOTE_FILE_NOT_FOUND;
}

// Uploads the open file to `url` and checks the stored size: some servers acknowledge a
// cut-off upload (seen over TLS 1.3 when the client's close resets the data connection).
FtpResult StoreChecked(CurlEasy& easy, const QByteArray& url, int fd, qint64 size) {
    const FtpResult stored = easy.Outcome(Store(easy, url, fd, size));
    if (stored && !HasSize(easy, url, size))
        return FtpResult(FtpReason::CutOff);
    return stored;
}

bool IsCancelled(const CurlEasy& easy) {
    return easy.Monitor() && easy.Monitor()->IsCancelled();
}

// Runs the listing request of the parser's format on the directory `url`.
CURLcode ReadListing(CurlEasy& easy, const QByteArray& url, ListingParser& parser) {
    const ListingFormat format = parser.Format();
    ListingSink sink{&parser, easy.Monitor()};
    CURL* curl = easy.Begin(url);
    if (format == ListingFormat::Mlsd)
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "MLSD");
    if (format == ListingFormat::Names)
        curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
    easy.WatchData(FeedParser, &sink);
    const CURLcode code = easy.Perform([&parser, format] { parser = ListingParser(format); });
    parser.Finish();
    return code;
}

// Adds the names a bare-name listing of `url` gives that `entries` lacks, as entries of
// unknown kind.
void AddUnlistedNames(CurlEasy& easy, const QByteArray& url, std::vector<RemoteEntry>& entries) {
    ListingParser names(ListingFormat::Names);
    if (ReadListing(easy, url, names) != CURLE_OK)
        return;
    QSet<QByteArray> listed;
    for (const RemoteEntry& entry : entries)
        listed.insert(entry.name);
    for (RemoteEntry& entry : names.Entries()) {
        if (!listed.contains(entry.name)) {
            listed.insert(entry.name);
            entries.push_back(std::move(entry));
        }
    }
}

FtpResult ListingResult(const CurlEasy& easy, CURLcode code, std::vector<RemoteEntry>& entries) {
    // A cancelled listing shows nothing; one that broke off shows what came.
    if (IsCancelled(easy))
        entries.clear();
    return easy.Outcome(code);
}

// Nothing is sent for a name the server could misread.
FtpResult Unusable() {
    return FtpResult(FtpReason::UnusableText);
}

// The connection was closed before the step.
FtpResult Closed() {
    return FtpResult(FtpReason::CutOff);
}

} // namespace

CFtpConnection::CFtpConnection(std::unique_ptr<CurlEasy> easy, MlsdSupport* mlsd, QByteArray server)
    : m_easy(std::move(easy)), m_mlsd(mlsd), m_server(std::move(server)),
      // SFTP lists directories only as `ls -l` lines.
      m_mlsdRefused(m_easy->IsSftp() || (m_mlsd && m_mlsd->IsRefused(m_server))) {}

CFtpConnection::~CFtpConnection() = default;

QByteArray CFtpConnection::DirectoryUrl(const RemotePath& path) const {
    QByteArray url = m_easy->BaseUrl();
    for (const QByteArray& segment : path.Segments())
        url += Escape(segment) + '/';
    return url;
}

QByteArray CFtpConnection::FileUrl(const QByteArray& name) const {
    return DirectoryUrl(m_currentDirectory) + Escape(name);
}

QByteArray CFtpConnection::QuotedSftpPath(const QByteArray& name) const {
    // Relative to the login directory, as the server resolves it; quoted for libcurl.
    QByteArray path;
    for (const QByteArray& segment : m_currentDirectory.Segments())
        path += segment + '/';
    path += name;
    return '"' + path.replace('\\', "\\\\").replace('"', "\\\"") + '"';
}

std::vector<QByteArray> CFtpConnection::RenameCommands(const QByteArray& from,
                                                       const QByteArray& to) const {
    if (!m_easy->IsSftp())
        return {"RNFR " + from, "RNTO " + to};
    // OpenSSH renames nothing onto an existing file: the old one goes first ("*": if there is one).
    return {"*rm " + QuotedSftpPath(to),
            "rename " + QuotedSftpPath(from) + ' ' + QuotedSftpPath(to)};
}

FtpResult CFtpConnection::SetCurrentDirectory(const RemotePath& path) {
    if (!m_easy)
        return Closed();
    if (!IsUsablePath(path))
        return Unusable();
    CURL* curl = m_easy->Begin(DirectoryUrl(path));
    // SFTP has no change of directory, and libcurl opens no directory for a request without a
    // body: the directory's listing is opened instead, and left at its first byte.
    if (m_easy->IsSftp())
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, StopAtFirstByte);
    else
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    CURLcode code = m_easy->Perform();
    if (m_easy->IsSftp() && code == CURLE_WRITE_ERROR)
        code = CURLE_OK;
    FtpResult result = m_easy->Outcome(code);
    if (result)
        m_currentDirectory = path;
    return result;
}

void CFtpConnection::Remove(const QByteArray& name) {
    // The leading "*" lets the request succeed whatever the server answers.
    const QByteArray command = m_easy->IsSftp() ? "*rm " + QuotedSftpPath(name) : "*DELE " + name;
    (void)SendCommands(*m_easy, DirectoryUrl(m_currentDirectory), {command}, true);
}

FtpResult CFtpConnection::PutFile(const QString& localPath, const QByteArray& remoteName) {
    if (!m_easy)
        return Closed();
    if (!IsUsableName(remoteName))
        return Unusable();
    const UniqueFd file(::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file.IsOpen() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        return FtpResult(FtpReason::LocalFile);
    const qint64 size = status.st_size;
    if (IsAbsent(*m_easy, FileUrl(remoteName))) {
        // Nothing to protect: stored under its own name, as drop folders need, where neither
        // rename nor delete is allowed. A failed upload is removed where the server allows.
        FtpResult result = StoreChecked(*m_easy, FileUrl(remoteName), file.Get(), size);
        if (!result)
            Remove(remoteName);
        return result;
    }
    // Stored under a temporary name and renamed when complete: a broken upload never destroys
    // the file it was to replace.
    const QByteArray temporary = TemporaryUploadName();
    const CURLcode stored = Store(*m_easy, FileUrl(temporary), file.Get(), size);
    const bool refusedName = stored == CURLE_UPLOAD_FAILED && IsRefusedName(m_easy->ResponseCode());
    FtpResult result = m_easy->Outcome(stored);
    if (result && !HasSize(*m_easy, FileUrl(temporary), size))
        result = FtpResult(FtpReason::CutOff);
    bool renameRefused = false;
    if (result) {
        const CURLcode renamed = SendCommands(*m_easy, DirectoryUrl(m_currentDirectory),
                                              RenameCommands(temporary, remoteName));
        result = m_easy->Outcome(renamed);
        if (result)
            return result;
        renameRefused = renamed == CURLE_QUOTE_ERROR;
    }
    // Stored but not renamed: the server renames nothing. Refused: it takes no such name. In
    // both cases the file goes under its own name. Any other failure (no space, a broken or
    // cut-off data connection) would destroy the target the same way: the command fails instead.
    if (!refusedName)
        Remove(temporary);
    if (!renameRefused && !refusedName)
        return result;
    return StoreChecked(*m_easy, FileUrl(remoteName), file.Get(), size);
}

FtpResult CFtpConnection::GetFile(const QByteArray& remoteName, const QString& localPath) {
    if (!m_easy)
        return Closed();
    if (!IsUsableName(remoteName))
        return Unusable();
    const QByteArray path = QFile::encodeName(localPath);
    UniqueFd file(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.IsOpen())
        return FtpResult(FtpReason::LocalFile);
    const int fd = file.Get();
    FileSink sink(fd);
    const QByteArray url = FileUrl(remoteName);
    const curl_off_t announced = ServerSize(*m_easy, url);
    CURL* curl = m_easy->Begin(url);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    // The transfer ends when the server says so, not at the size it announced: a file may
    // hold more than SIZE says.
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    FtpResult result = m_easy->Outcome(m_easy->Perform([fd, &sink] {
        sink.Discard();
        if (::ftruncate(fd, 0) == 0)
            ::lseek(fd, 0, SEEK_SET);
    }));
    if (result && !sink.Flush())
        result = FtpResult(FtpReason::LocalFile);
    // Yet a server may end the data early and still report success: fewer bytes than it
    // announced is a cut-off download.
    curl_off_t received = 0;
    curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &received);
    if (result && received < announced)
        result = FtpResult(FtpReason::CutOff);
    if (!file.Close() && result)
        result = FtpResult(FtpReason::LocalFile);
    if (!result)
        ::unlink(path.constData());
    return result;
}

FtpResult CFtpConnection::ReadDirectory(std::vector<RemoteEntry>& entries) {
    entries.clear();
    if (!m_easy)
        return Closed();
    const QByteArray url = DirectoryUrl(m_currentDirectory);
    if (!m_mlsdRefused) {
        ListingParser mlsd(ListingFormat::Mlsd);
        const CURLcode code = ReadListing(*m_easy, url, mlsd);
        entries = std::move(mlsd.Entries());
        if (!IsRefusedCommand(code, m_easy->ResponseCode()))
            return ListingResult(*m_easy, code, entries);
        // Many servers only know the human-readable listing; later commands ask for it at
        // once, without the second login the refusal costs.
        m_mlsdRefused = true;
        if (m_mlsd)
            m_mlsd->RememberRefused(m_server);
        entries.clear();
        m_easy->DropConnection();
    }
    ListingParser list(ListingFormat::List);
    const CURLcode code = ReadListing(*m_easy, url, list);
    entries = std::move(list.Entries());
    // Some lines defeated every parser: the bare names tell which entries they were.
    if (code == CURLE_OK && list.UnreadLines() > 0 && !IsCancelled(*m_easy))
        AddUnlistedNames(*m_easy, url, entries);
    return ListingResult(*m_easy, code, entries);
}

void CFtpConnection::Close() {
    m_easy.reset();
}
