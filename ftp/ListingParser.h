#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

// One entry of a remote directory: its raw name and whether it is a directory.
struct RemoteEntry {
    QByteArray name;
    bool isDirectory = false;
    qint64 size = -1; // -1 when the listing does not say
};

enum class ListingFormat {
    Mlsd, // machine-readable facts
    List, // the human-readable listing: Unix "ls -l" or DOS/IIS forms
};

// A line that does not parse gives nothing; it never fails the listing.
[[nodiscard]] std::optional<RemoteEntry> ParseMlsdLine(QByteArrayView line);
[[nodiscard]] std::optional<RemoteEntry> ParseListLine(QByteArrayView line);

// Splits a listing as it arrives into lines and parses each.
class ListingParser {
public:
    // Longer lines are dropped whole: no real entry needs them.
    static constexpr qsizetype kMaxLineLength = 64 * 1024;

    explicit ListingParser(ListingFormat format) : m_format(format) {}

    void Feed(const char* data, size_t size);
    // Parses a last line that had no line end.
    void Finish();

    std::vector<RemoteEntry>& Entries() { return m_entries; }

private:
    void ParseLine();

    ListingFormat m_format;
    QByteArray m_line;
    bool m_lineTooLong = false;
    std::vector<RemoteEntry> m_entries;
};
