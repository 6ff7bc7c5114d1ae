#include "ftp/ListingDates.h"
#include "ftp/ListingFamilies.h"

namespace {

using namespace ListingText;

QByteArrayView Unquoted(QByteArrayView name) {
    if (name.size() > 2 && name.startsWith('\'') && name.endsWith('\''))
        return name.sliced(1, name.size() - 2);
    return name;
}

// "2003/03/18"
bool IsSlashedDate(QByteArrayView text) {
    return text.size() == 10 && text[4] == '/' && text[7] == '/' && AllDigits(text.first(4)) &&
           AllDigits(text.sliced(5, 2)) && AllDigits(text.sliced(8, 2));
}

// "*DIR", "*FILE", "*MEM", "*STMF"
bool IsObjectType(QByteArrayView text) {
    if (text.size() < 3 || text.size() > 11 || !text.startsWith('*'))
        return false;
    for (char c : text.sliced(1)) {
        if (c < 'A' || c > 'Z')
            return false;
    }
    return true;
}

} // namespace

namespace ListingFamilies {

// "QSYS  77824 02/23/00 15:09:55 *DIR  QOpenSys/", "QSYS  *MEM  QPUBLIC.FILE/QPUBLIC.MBR"
std::optional<RemoteEntry> As400(QByteArrayView line) {
    const ListingFields fields(line);
    for (size_t i = 1; i < fields.Count() && i <= 4; ++i) {
        const QByteArrayView type = fields[i];
        if (!IsObjectType(type) || i + 1 >= fields.Count())
            continue;
        QByteArrayView name = fields.TrimmedAfter(i);
        bool isDirectory = type == "*DIR" || type == "*LIB" || type == "*FLR";
        if (name.size() > 1 && name.endsWith('/')) {
            isDirectory = true;
            name.chop(1);
        }
        return Entry(name, isDirectory, i == 4 ? Number(fields[1]) : -1);
    }
    return std::nullopt;
}

// "WYOSPT 3420   2003/03/18  1  200  FB  80  8053  PO  'USER.PDS'", "Migrated  USER.OLD"
std::optional<RemoteEntry> MvsDataset(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 2)
        return std::nullopt;
    const QByteArrayView name = Unquoted(fields[fields.Count() - 1]);
    if (fields[0] == "Migrated" && fields.Count() == 2)
        return Entry(name, false, -1);
    if (fields[0] == "Pseudo" && fields[1] == "Directory" && fields.Count() == 3)
        return Entry(name, true, -1);
    // Tape volumes and devices that are no disks say so instead of the disk columns.
    if (fields.Count() >= 3 && (fields[1] == "Tape" || line.contains("Not Direct Access")))
        return Entry(name, false, -1);
    if (fields.Count() < 5 || !AllDigits(fields[1]) ||
        !(IsSlashedDate(fields[2]) || fields[2] == "**NONE**"))
        return std::nullopt;
    const QByteArrayView organisation = fields[fields.Count() - 2];
    return Entry(name, organisation.startsWith("PO"), -1);
}

// "ADATA   01.03 2002/09/12 2002/10/11 09:37  11  11  0 USER", "LOADMOD 00000A90 000013 ..."
std::optional<RemoteEntry> MvsMember(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 3 || fields[0].size() > 8)
        return std::nullopt;
    const QByteArrayView version = fields[1];
    if (version.size() == 5 && version[2] == '.' && AllDigits(version.first(2)) &&
        AllDigits(version.sliced(3)) && IsSlashedDate(fields[2]))
        return Entry(fields[0], false, -1);
    if (version.size() == 8 && AllHexDigits(version) && fields[2].size() == 6 &&
        AllHexDigits(fields[2]))
        return Entry(fields[0], false, version.toLongLong(nullptr, 16));
    return std::nullopt;
}

// "PROFILE  EXEC  V  80  25  1 2002-09-12 10:28:30 -": shown as "PROFILE.EXEC"
std::optional<RemoteEntry> Zvm(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 8)
        return std::nullopt;
    const QByteArrayView format = fields[2];
    if (format != "F" && format != "V" && format != "-")
        return std::nullopt;
    for (size_t i = 3; i <= 5; ++i) {
        if (!AllDigits(fields[i]) && fields[i] != "-")
            return std::nullopt;
    }
    if (!ListingDates::IsNumericDate(fields[6]) || !IsClock(fields[7]))
        return std::nullopt;
    if (fields[1] == "DIR")
        return Entry(fields[0], true, -1);
    const qint64 recordLength = Number(fields[3]);
    const qint64 records = Number(fields[4]);
    return Entry(fields[0].toByteArray() + '.' + fields[1].toByteArray(), false,
                 recordLength >= 0 && records >= 0 ? recordLength * records : -1);
}

// "ALV    101    43  13-Jun-2006 17:02:34 255, 0 \"oooo\""
std::optional<RemoteEntry> NonStop(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 5)
        return std::nullopt;
    QByteArrayView code = fields[1];
    if (code.endsWith('O'))
        code.chop(1); // the file is open
    if (!AllDigits(code) || !AllDigits(fields[2]) || !ListingDates::IsDashedDate(fields[3]) ||
        !IsClock(fields[4]))
        return std::nullopt;
    return Entry(fields[0], false, Number(fields[2]));
}

} // namespace ListingFamilies
