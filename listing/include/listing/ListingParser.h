#pragma once

#include "listing/RemoteEntry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

enum class ListingFormat {
    Mlsd,  // machine-readable facts
    List,  // the human-readable listing, in any of the formats servers send
    Names, // bare names (NLST), of entries whose kind is not known
};

// A line that does not parse gives nothing; it never fails the listing.
[[nodiscard]] std::optional<RemoteEntry> ParseMlsdLine(QByteArrayView line);
// Tries every LIST format on the line.
[[nodiscard]] std::optional<RemoteEntry> ParseListLine(QByteArrayView line);
// Blank lines, "total N" and the headings some servers put above their columns.
[[nodiscard]] bool IsListingBanner(QByteArrayView line);

// Splits a listing as it arrives into lines (at LF, with or without a CR before it) and
// parses each.
class ListingParser {
public:
    // Longer lines are dropped whole: no real entry needs them.
    static constexpr qsizetype kMaxLineLength = 64 * 1024;

    explicit ListingParser(ListingFormat format) : m_format(format) {}

    ListingFormat Format() const { return m_format; }
    void Feed(const char* data, size_t size);
    // Parses a last line that had no line end.
    void Finish();

    std::vector<RemoteEntry>& Entries() { return m_entries; }
    // Lines that were neither an entry nor a banner: the listing may be missing entries.
    int UnreadLines() const { return m_unreadLines; }

private:
    void ParseLine();
    void ParseListingLine();
    void ParseNameLine();

    ListingFormat m_format;
    QByteArray m_line;
    bool m_lineTooLong = false;
    // A name alone on a LIST line: some servers put the rest of its entry on the next line.
    QByteArray m_pending;
    int m_unreadLines = 0;
    std::vector<RemoteEntry> m_entries;
};
