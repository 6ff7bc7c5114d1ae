#pragma once

#include "ftp/FtpResult.h"
#include "listing/RemoteEntry.h"
#include "listing/RemotePath.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class CurlEasy;
class MlsdSupport;

// A logged-in FTP or SFTP connection and its current directory. Transfers are binary and
// blocking.
class CFtpConnection {
public:
    // `easy` has already logged in. `mlsd`, when given, is what the run knows of servers
    // without MLSD, `server` this one's name there.
    explicit CFtpConnection(std::unique_ptr<CurlEasy> easy, MlsdSupport* mlsd = nullptr,
                            QByteArray server = {});
    ~CFtpConnection();

    // Makes `path` (relative to the login directory) the current directory; on failure the
    // current one stays.
    FtpResult SetCurrentDirectory(const RemotePath& path);
    const RemotePath& GetCurrentDirectory() const { return m_currentDirectory; }

    // Stores the local file under `remoteName` in the current directory, replacing a remote
    // file of that name only once the whole file has arrived.
    FtpResult PutFile(const QString& localPath, const QByteArray& remoteName);

    // Copies the remote file to `localPath`, which must not exist: it is created exclusively,
    // and removed again when the copy fails, so no partial file is ever left.
    FtpResult GetFile(const QByteArray& remoteName, const QString& localPath);

    // Reads the entries of the current directory. An interrupted listing keeps the entries
    // read so far, a cancelled one none. Where some lines of a LIST reply could not be read,
    // the bare names fill in the entries they stood for.
    FtpResult ReadDirectory(std::vector<RemoteEntry>& entries);

    void Close();

private:
    QByteArray DirectoryUrl(const RemotePath& path) const;
    QByteArray FileUrl(const QByteArray& name) const;
    // `name` in the current directory, as an SFTP command names it.
    QByteArray QuotedSftpPath(const QByteArray& name) const;
    std::vector<QByteArray> RenameCommands(const QByteArray& from, const QByteArray& to) const;
    // Deletes a file of the current directory where the server allows; no answer is needed.
    void Remove(const QByteArray& name);

    std::unique_ptr<CurlEasy> m_easy;
    RemotePath m_currentDirectory;
    MlsdSupport* m_mlsd;
    QByteArray m_server;
    bool m_mlsdRefused;
};
