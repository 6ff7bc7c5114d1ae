#pragma once

#include "ftp/FtpResult.h"
#include "listing/RemoteEntry.h"

#include <QString>
#include <vector>

class CFtpConnection;

constexpr unsigned FILE_ATTRIBUTE_DIRECTORY = 0x10;

// Enumerates the entries of a connection's current directory, in the server's order.
class CFtpFileFind {
public:
    explicit CFtpFileFind(CFtpConnection* pConnection) : m_pConnection(pConnection) {}

    // Fetches the listing afresh. The entries that came stay readable even when it failed.
    FtpResult FindFile();
    [[nodiscard]] bool HasEntries() const { return !m_entries.empty(); }
    // Makes the next entry current; false when that entry is the last one (it stays readable).
    [[nodiscard]] bool FindNextFile();

    QString GetFileName() const;
    // The name exactly as the server sent it, to name the entry in later requests.
    const QByteArray& GetRawFileName() const;
    [[nodiscard]] bool MatchesMask(unsigned mask) const;
    // False where the server did not say whether the entry is a directory.
    [[nodiscard]] bool IsKindKnown() const;
    // The size in bytes, -1 when the listing does not say.
    qint64 GetLength() const;

    void Close();

private:
    const RemoteEntry& Current() const;

    CFtpConnection* m_pConnection;
    std::vector<RemoteEntry> m_entries;
    size_t m_current = 0;
    bool m_started = false;
};
