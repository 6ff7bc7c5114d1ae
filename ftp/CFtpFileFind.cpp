#include "ftp/CFtpFileFind.h"

#include "ftp/CFtpConnection.h"
#include "listing/RemoteName.h"

FtpResult CFtpFileFind::FindFile() {
    Close();
    return m_pConnection->ReadDirectory(m_entries);
}

bool CFtpFileFind::FindNextFile() {
    if (m_started && m_current + 1 < m_entries.size())
        ++m_current;
    m_started = true;
    return m_current + 1 < m_entries.size();
}

const RemoteEntry& CFtpFileFind::Current() const {
    static const RemoteEntry kNone;
    return m_current < m_entries.size() ? m_entries[m_current] : kNone;
}

QString CFtpFileFind::GetFileName() const {
    return RemoteName::Display(Current().name);
}

const QByteArray& CFtpFileFind::GetRawFileName() const {
    return Current().name;
}

qint64 CFtpFileFind::GetLength() const {
    return Current().size;
}

bool CFtpFileFind::MatchesMask(unsigned mask) const {
    return (mask & FILE_ATTRIBUTE_DIRECTORY) != 0 && Current().isDirectory;
}

bool CFtpFileFind::IsKindKnown() const {
    return Current().kindKnown;
}

void CFtpFileFind::Close() {
    m_entries.clear();
    m_current = 0;
    m_started = false;
}
