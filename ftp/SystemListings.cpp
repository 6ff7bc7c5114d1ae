#include "ftp/ListingDates.h"
#include "ftp/ListingFamilies.h"

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

} // namespace

namespace ListingFamilies {

// "CORE.DIR;1  1/3  5-MAR-1993 18:09:37  [SYSTEM]  (RWE,RWE,RE,RE)": the directory "CORE"
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

// "      0.0     02/01/29 1006  d-ewrewr    a8        512 CMDS"
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

// "  41    May-23-2005  15:29:54   test.txt", "  0  DEC-03-2004  09:06:26   conf  <DIR>", or
// "boot.cfg   1552354   Jun-08-2005 14:17:28"
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
    if (fields.Count() == 4 && AllDigits(fields[1]) && ListingDates::IsDashedDate(fields[2]) &&
        IsClock(fields[3]))
        return Entry(fields[0], false, Number(fields[1]));
    return std::nullopt;
}

} // namespace ListingFamilies
