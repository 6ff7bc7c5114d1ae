#include "FileSink.h"

#include "ftp/TransferBuffer.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

FileSink::FileSink(int fd) : m_fd(fd) {
    m_gathered.reserve(kFileWriteBytes);
}

bool FileSink::Append(const char* data, size_t size) {
    if (m_gathered.size() + size > m_gathered.capacity() && !Flush())
        return false;
    if (size >= m_gathered.capacity())
        return WriteAll(data, size);
    m_gathered.insert(m_gathered.end(), data, data + size);
    return true;
}

bool FileSink::Flush() {
    const bool written = WriteAll(m_gathered.data(), m_gathered.size());
    m_gathered.clear();
    return written;
}

bool FileSink::WriteAll(const char* data, size_t size) {
    for (size_t written = 0; written < size;) {
        const size_t piece = std::min<size_t>(size - written, kFileWriteBytes);
        const ssize_t n = ::write(m_fd, data + written, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}
