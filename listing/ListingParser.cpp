#include "listing/ListingParser.h"

#include "ListingFamilies.h"
#include "ListingFields.h"

#include <cstring>

namespace {

using Family = std::optional<RemoteEntry> (*)(QByteArrayView);

// The most specific formats first, so that a line is never read as a looser one.
const Family kFamilies[] = {
    ListingFamilies::Facts,      ListingFamilies::Eplf,      ListingFamilies::Unix,
    ListingFamilies::NetWare,    ListingFamilies::Dos,       ListingFamilies::Vms,
    ListingFamilies::Os9,        ListingFamilies::Zvm,       ListingFamilies::NonStop,
    ListingFamilies::MvsDataset, ListingFamilies::MvsMember, ListingFamilies::As400,
    ListingFamilies::Nortel,     ListingFamilies::Os2,       ListingFamilies::VShell,
};

// How the summaries and column headings of VMS, MVS, OS-9, HP NonStop and others begin.
const char* const kBannerStarts[] = {
    "total ", "directory ", "total of ", "grand total", "volume unit",
    "name ",  "file   ",    "owner ",    "dsname",      "size ",
};

} // namespace

std::optional<RemoteEntry> ParseListLine(QByteArrayView line) {
    for (Family family : kFamilies) {
        if (auto entry = family(line))
            return entry;
    }
    return std::nullopt;
}

bool IsListingBanner(QByteArrayView line) {
    while (!line.isEmpty() && ListingText::IsBlank(line[0]))
        line = line.sliced(1);
    const QByteArray lower = ListingText::Lower(line);
    if (lower.isEmpty() || lower == "total")
        return true;
    bool rule = true; // a line of dashes under column headings
    for (char c : lower)
        rule = rule && (c == '-' || c == '=' || ListingText::IsBlank(c));
    if (rule)
        return true;
    for (const char* start : kBannerStarts) {
        if (lower.startsWith(start))
            return true;
    }
    // "total 8" in the server's language: "总用量 8", "insgesamt 8", "итого 8"
    const ListingFields fields(line);
    return fields.Count() == 2 && !ListingText::StartsWithDigit(fields[0]) &&
           ListingText::Size(fields[1]) >= 0;
}

void ListingParser::Feed(const char* data, size_t size) {
    const char* end = data + size;
    while (data < end) {
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
        const char* stop = newline ? newline : end;
        if (!m_lineTooLong) {
            if (m_line.size() + (stop - data) > kMaxLineLength) {
                m_lineTooLong = true;
                m_line.clear();
            } else {
                m_line.append(data, stop - data);
            }
        }
        if (!newline)
            return;
        ParseLine();
        data = newline + 1;
    }
}

void ListingParser::Finish() {
    if (!m_line.isEmpty())
        ParseLine();
    if (!m_pending.isEmpty())
        ++m_unreadLines;
    m_pending.clear();
}

void ListingParser::ParseLine() {
    if (m_lineTooLong) {
        ++m_unreadLines;
    } else {
        // Only a CR right before the LF ends the line; one inside it belongs to the name.
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        if (m_format == ListingFormat::Mlsd) {
            if (auto entry = ParseMlsdLine(m_line))
                m_entries.push_back(std::move(*entry));
        } else if (m_format == ListingFormat::List) {
            ParseListingLine();
        } else {
            ParseNameLine();
        }
    }
    m_line.clear();
    m_lineTooLong = false;
}

void ListingParser::ParseListingLine() {
    if (auto entry = ParseListLine(m_line)) {
        if (!m_pending.isEmpty())
            ++m_unreadLines;
        m_pending.clear();
        m_entries.push_back(std::move(*entry));
        return;
    }
    if (IsListingBanner(m_line) || ListingFamilies::IsVmsContinuation(m_line))
        return;
    if (!m_pending.isEmpty()) {
        if (auto entry = ParseListLine(m_pending + ' ' + m_line)) {
            m_pending.clear();
            m_entries.push_back(std::move(*entry));
            return;
        }
        ++m_unreadLines;
        m_pending.clear();
    }
    // Only a name alone begins an entry that goes on in the next line; any other line that
    // does not parse would make an entry of the line after it.
    if (ListingFields(m_line).Count() == 1)
        m_pending = m_line;
    else
        ++m_unreadLines;
}

void ListingParser::ParseNameLine() {
    // Some servers give each name with the directory's path before it.
    const QByteArrayView name = ListingText::LastSegment(m_line);
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/'))
        return;
    RemoteEntry entry{name.toByteArray(), false, -1, false};
    m_entries.push_back(std::move(entry));
}
