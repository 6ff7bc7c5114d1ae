#include "ListingDates.h"
#include "ListingFamilies.h"

namespace {

using namespace ListingText;

bool IsMeridiem(QByteArrayView text) {
    const QByteArray lower = Lower(text);
    return lower == "am" || lower == "pm";
}

// "10:00AM", "10:00pm", "22:15"
bool IsDosTime(QByteArrayView text) {
    return IsClock(text) ||
           (text.size() > 2 && IsMeridiem(text.last(2)) && IsClock(text.chopped(2)));
}

bool IsUpperWord(QByteArrayView text) {
    for (char c : text) {
        if (c < 'A' || c > 'Z')
            return false;
    }
    return !text.isEmpty() && text.size() <= 4;
}

} // namespace

namespace ListingFamilies {

// "01-31-24  10:00AM       <DIR>          My Docs", "2024-01-31  22:15   1,234 report.txt"
std::optional<RemoteEntry> Dos(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 4 || !ListingDates::IsNumericDate(fields[0]) || !IsDosTime(fields[1]))
        return std::nullopt;
    size_t column = 2;
    if (IsMeridiem(fields[column]))
        ++column;
    if (column + 1 >= fields.Count())
        return std::nullopt;
    const bool isDirectory = Lower(fields[column]) == "<dir>";
    const qint64 size = Size(fields[column]);
    if (!isDirectory && size < 0)
        return std::nullopt;
    return Entry(fields.TrimmedAfter(column), isDirectory, size);
}

// "           0           DIR   09-23-97   08:51  FONTS"
std::optional<RemoteEntry> Os2(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 4 || !AllDigits(fields[0]))
        return std::nullopt;
    bool isDirectory = false;
    for (size_t i = 1; i + 2 < fields.Count() && i <= 4; ++i) {
        if (ListingDates::IsNumericDate(fields[i]) && IsClock(fields[i + 1]))
            return Entry(fields.TrimmedAfter(i + 1), isDirectory, Number(fields[0]));
        if (!IsUpperWord(fields[i]))
            return std::nullopt;
        isDirectory = isDirectory || fields[i] == "DIR";
    }
    return std::nullopt;
}

// "+i12.3400,m1609459200,r,s512,\tnotes.txt"
std::optional<RemoteEntry> Eplf(QByteArrayView line) {
    const qsizetype tab = line.indexOf('\t');
    if (!line.startsWith('+') || tab < 0)
        return std::nullopt;
    bool isDirectory = false;
    qint64 size = -1;
    for (QByteArrayView fact : ListingText::Split(line.sliced(1, tab - 1), ',')) {
        if (fact == "/")
            isDirectory = true;
        else if (fact.startsWith('s'))
            size = Number(fact.sliced(1));
    }
    return Entry(line.sliced(tab + 1), isDirectory, size);
}

// "      812  Sep 18, 2015 07:42  notes.txt", "        0  Sep 18, 2015 07:42  docs/"
std::optional<RemoteEntry> VShell(QByteArrayView line) {
    const ListingFields fields(line);
    if (fields.Count() < 3 || !AllDigits(fields[0]))
        return std::nullopt;
    const auto date = ListingDates::Find(fields, 1);
    if (!date || date->first != 1)
        return std::nullopt;
    QByteArrayView name = fields.TrimmedAfter(date->last);
    const bool isDirectory = name.size() > 1 && name.endsWith('/');
    if (isDirectory)
        name.chop(1);
    return Entry(name, isDirectory, Number(fields[0]));
}

} // namespace ListingFamilies
