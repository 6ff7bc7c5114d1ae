#include "ListingDates.h"
#include "ListingFamilies.h"

namespace {

using namespace ListingText;

QByteArrayView Unquoted(QByteArrayView name) {
    if (name.size() > 2 && name.startsWith('\'') && name.endsWith('\''))
        return name.sliced(1, name.size() - 2);
    return name;
}

// "2021/06/30"
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

// "QSECOFR  81920 03/14/21 09:12:44 *DIR  QIBM/", "QPGMR  *MEM  SALES.FILE/MAY.MBR"
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

// "DSK017 3390   2021/06/30  3   90  FB  80  27920  PO  'TEAM.SRC'", "Migrated  TEAM.OLD"
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

// "BILLING  02.11 2019/04/02 2021/08/17 16:05  240  230  0 OPS01", "PRINTER  0001C4F0 00003A ..."
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

// "BACKUP  SCRIPT  V  72  40  1 2020-11-03 08:14:52 -": shown as "BACKUP.SCRIPT"
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

// "ORDERS    180    5120  21-Feb-2022 11:47:09 120,7 \"nunu\""
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
