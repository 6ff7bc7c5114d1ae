#pragma once

#include <cstddef>
#include <vector>

// A download's way into its file. libcurl hands the data over in pieces of at most 16 KiB over
// TLS and up to the transfer buffer in clear text; the file gets writes of one size.
class FileSink {
public:
    explicit FileSink(int fd);

    // False when the file could not take the data.
    [[nodiscard]] bool Append(const char* data, size_t size);
    // Writes what is gathered; false when the file could not take it.
    [[nodiscard]] bool Flush();
    // Drops what is gathered, for a transfer that starts again from the beginning.
    void Discard() { m_gathered.clear(); }

private:
    bool WriteAll(const char* data, size_t size);

    int m_fd;
    std::vector<char> m_gathered;
};
