#include "ListingDates.h"
#include "ListingFamilies.h"

namespace {

using namespace ListingText;

// "drwxr-xr-x", "-rw-r--r--+", "-rw-r--r--@", "lrwxrwxrwx.", "drwxr-x---+1464"
bool IsPermissions(QByteArrayView text) {
    // A NUL byte is no type or mode letter (strchr would take it for one).
    static constexpr QByteArrayView kTypes("-dlbcpsDnw?");
    static constexpr QByteArrayView kModes("-rwxsStTlLA?");
    if (text.size() < 10 || !kTypes.contains(text[0]))
        return false;
    for (qsizetype i = 1; i < 10; ++i) {
        if (!kModes.contains(text[i]))
            return false;
    }
    qsizetype marks = 10;
    while (marks < text.size() && QByteArrayView("+@.*").contains(text[marks]))
        ++marks;
    // Some servers put the link count right after the mark, in the blank's place.
    return marks == text.size() || (marks > 10 && AllDigits(text.sliced(marks)));
}

// The size column, even where a long owner or group name runs into it.
qint64 SizeColumn(QByteArrayView text) {
    const qint64 size = Size(text);
    if (size >= 0)
        return size;
    qsizetype digits = 0;
    while (digits < text.size() && text[text.size() - 1 - digits] >= '0' &&
           text[text.size() - 1 - digits] <= '9')
        ++digits;
    return digits > 0 ? Number(text.last(digits)) : -1;
}

// A line with no date: permissions, at most four columns, then the name after the last number.
std::optional<size_t> LastNumberBeforeName(const ListingFields& fields) {
    std::optional<size_t> found;
    for (size_t i = 1; i <= 4 && i + 1 < fields.Count(); ++i) {
        if (AllDigits(fields[i]))
            found = i;
    }
    return found;
}

} // namespace

namespace ListingFamilies {

std::optional<RemoteEntry> Entry(QByteArrayView name, bool isDirectory, qint64 size) {
    if (name.isEmpty())
        return std::nullopt;
    return RemoteEntry{name.toByteArray(), isDirectory, isDirectory ? -1 : size};
}

std::optional<RemoteEntry> Unix(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 2 || !IsPermissions(fields[0]))
        return std::nullopt;
    QByteArrayView name;
    qint64 size = -1;
    if (const auto date = ListingDates::Find(fields, 1)) {
        // One blank separates the date from the name; any further ones belong to the name.
        name = fields.NameAfter(date->last);
        if (date->first > 1)
            size = SizeColumn(fields[date->first - 1]);
    } else if (const auto sizeField = LastNumberBeforeName(fields)) {
        name = fields.TrimmedAfter(*sizeField);
        size = Number(fields[*sizeField]);
    }
    const char type = line[0];
    auto entry = Entry(name, type == 'd', size);
    if (entry && type == 'l') {
        // Only a trailing slash on the target tells what a link leads to.
        const qsizetype arrow = entry->name.indexOf(" -> ");
        if (arrow > 0) {
            entry->isDirectory = entry->name.endsWith('/');
            entry->name.truncate(arrow);
        }
        entry->kindKnown = entry->isDirectory;
    }
    if (entry && entry->isDirectory) {
        // Some servers mark directories with a slash that is no part of the name.
        if (entry->name.size() > 1 && entry->name.endsWith('/'))
            entry->name.chop(1);
        entry->size = -1;
    }
    return entry;
}

std::optional<RemoteEntry> NetWare(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 4 || fields[0].size() != 1 || (line[0] != 'd' && line[0] != '-') ||
        !fields[1].startsWith('[') || !fields[1].endsWith(']'))
        return std::nullopt;
    const auto date = ListingDates::Find(fields, 2);
    if (!date || date->first < 3)
        return std::nullopt;
    // The name column is padded: leading blanks are no part of the name.
    return Entry(fields.TrimmedAfter(date->last), line[0] == 'd', Size(fields[date->first - 1]));
}

} // namespace ListingFamilies
