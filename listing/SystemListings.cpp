#include "ListingDates.h"
#include "ListingFamilies.h"

namespace {

using namespace ListingText;

constexpr qint64 kVmsBlockBytes = 512;

// "4/12" (used of allocated), "210", in blocks; or "3KB".
qint64 VmsSize(QByteArrayView text) {
    const qsizetype slash = text.indexOf('/');
    const qint64 blocks = Number(slash >= 0 ? text.first(slash) : text);
    if (blocks >= 0)
        return blocks * kVmsBlockBytes;
    return Size(text);
}

// "README.TXT;3": a name, a semicolon and a version number.
bool IsVmsName(QByteArrayView text) {
    const qsizetype semicolon = text.lastIndexOf(';');
    return semicolon > 0 && AllDigits(text.sliced(semicolon + 1));
}

// "Wed.", "Thur", "Sun."
bool IsWeekday(QByteArrayView text) {
    static const char* const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    const QByteArray lower = Lower(text.endsWith('.') ? text.chopped(1) : text);
    for (const char* day : kDays) {
        if (lower.size() >= 3 && lower.size() <= 4 && lower.startsWith(day))
            return true;
    }
    return false;
}

} // namespace

namespace ListingFamilies {

// "TOOLS.DIR;1  2/4  17-OCT-2011 07:21:50  [OPS,JOE]  (RWE,RWE,RE,)": the directory "TOOLS"
std::optional<RemoteEntry> Vms(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 3 || !IsVmsName(fields[0]))
        return std::nullopt;
    const bool sized = VmsSize(fields[1]) >= 0;
    if (!ListingDates::IsDashedDate(fields[sized ? 2 : 1]))
        return std::nullopt;
    QByteArrayView name = fields[0];
    const qsizetype semicolon = name.lastIndexOf(';');
    const bool isDirectory = Lower(name.first(semicolon)).endsWith(".dir");
    if (isDirectory)
        name = name.first(semicolon - 4);
    return Entry(name, isDirectory, sized ? VmsSize(fields[1]) : -1);
}

bool IsVmsContinuation(QByteArrayView line) {
    if (line.isEmpty() || !IsBlank(line[0]))
        return false;
    const ListingFields fields(line);
    for (size_t i = 0; i < fields.Count(); ++i) {
        const QByteArrayView field = fields[i];
        const bool owner = field.startsWith('[') && field.endsWith(']');
        const bool protection = field.startsWith('(') && field.endsWith(')');
        if (!owner && !protection)
            return false;
    }
    return fields.Count() > 0;
}

// "      1.4     21/03/07 1342  d-ewrewr    1f        256 SYS"
std::optional<RemoteEntry> Os9(QByteArrayView line) {
    const ListingFields fields(line, 7);
    if (fields.Count() < 7)
        return std::nullopt;
    const QByteArrayView owner = fields[0];
    const qsizetype dot = owner.indexOf('.');
    const QByteArrayView attributes = fields[3];
    if (dot < 1 || !AllDigits(owner.first(dot)) || !AllDigits(owner.sliced(dot + 1)) ||
        !ListingDates::IsNumericDate(fields[1]) || fields[2].size() != 4 || !AllDigits(fields[2]) ||
        attributes.size() != 8 || !AllHexDigits(fields[4]) || !AllDigits(fields[5]))
        return std::nullopt;
    for (char c : attributes.sliced(1)) {
        if (c != '-' && c != 'e' && c != 'w' && c != 'r' && c != 's')
            return std::nullopt;
    }
    return Entry(fields[6], attributes[0] == 'd', Number(fields[5]));
}

// "  41    May-23-2005  15:29:54   test.txt", "  0  DEC-03-2004  09:06:26   conf  <DIR>",
// "boot.cfg   1552354   Jun-08-2005 14:17:28" or "config.bak  88204  11/27/19  Wed.  06:30:12"
std::optional<RemoteEntry> Nortel(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 4)
        return std::nullopt;
    if (AllDigits(fields[0]) && ListingDates::IsDashedDate(fields[1]) && IsClock(fields[2])) {
        QByteArrayView name = fields.TrimmedAfter(2);
        const bool isDirectory = name.endsWith("<DIR>");
        if (isDirectory) {
            name.chop(5);
            while (!name.isEmpty() && IsBlank(name.back()))
                name.chop(1);
        }
        return Entry(name, isDirectory, Number(fields[0]));
    }
    if (fields.Count() < 4 || !AllDigits(fields[1]) || !IsClock(fields[fields.Count() - 1]))
        return std::nullopt;
    const bool dashed = fields.Count() == 4 && ListingDates::IsDashedDate(fields[2]);
    const bool withWeekday =
        fields.Count() == 5 && ListingDates::IsNumericDate(fields[2]) && IsWeekday(fields[3]);
    if (!dashed && !withWeekday)
        return std::nullopt;
    return Entry(fields[0], false, Number(fields[1]));
}

} // namespace ListingFamilies
