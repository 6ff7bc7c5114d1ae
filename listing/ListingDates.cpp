#include "ListingDates.h"

#include <algorithm>
#include <iterator>

namespace {

using namespace ListingText;

// Month names of the languages servers print dates in; a name may be cut short after three
// letters ("Sept", "janv", "febr").
const char* const kMonthNames[] = {
    // English
    "january", "february", "march", "april", "may", "june", "july", "august", "september",
    "october", "november", "december",
    // German, Dutch, Danish, Norwegian, Swedish
    "januar", "februar", "maerz", "mai", "juni", "juli", "oktober", "dezember", "mrz", "mrt",
    "maart", "mei", "augustus", "maj", "des", "desember", "okt",
    // French
    "janvier", "fevrier", "mars", "avril", "juin", "juillet", "aout", "septembre", "octobre",
    "novembre", "decembre",
    // Spanish, Portuguese, Italian
    "enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre",
    "octubre", "noviembre", "diciembre", "fevereiro", "marco", "maio", "setembro", "outubro",
    "dezembro", "gennaio", "febbraio", "aprile", "maggio", "giugno", "luglio", "settembre",
    "ottobre",
    // Hungarian, Polish, Czech, Turkish, Finnish, Romanian
    "szeptember", "sty", "lut", "kwi", "cze", "lip", "sie", "wrz", "lis", "gru", "led", "dub",
    "srp", "pro", "oca", "nis", "haz", "tem", "eyl", "eki", "kas", "ara", "tammi", "helmi",
    "maalis", "huhti", "touko", "elo", "syys", "loka", "marras", "joulu", "ian", "iun", "iul",
    "noi"};

bool IsAscii(QByteArrayView text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

QByteArrayView WithoutPunctuation(QByteArrayView text) {
    while (!text.isEmpty() && (text.endsWith('.') || text.endsWith(',')))
        text.chop(1);
    return text;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Letters of European alphabets in UTF-8 (accented Latin, Greek, Cyrillic): ASCII letters
// and two-byte characters. CJK text, in any encoding, is not of this kind.
bool IsEuropeanWord(QByteArrayView text) {
    static const unsigned char kLeads[] = {0xC3, 0xC4, 0xC5, 0xCE, 0xCF, 0xD0, 0xD1};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsAsciiLetter(text[i]))
            continue;
        const auto lead = static_cast<unsigned char>(text[i]);
        if (i + 1 == text.size() ||
            std::find(std::begin(kLeads), std::end(kLeads), lead) == std::end(kLeads))
            return false;
        const auto trail = static_cast<unsigned char>(text[++i]);
        if (trail < 0x80 || trail > 0xBF)
            return false;
    }
    return true;
}

// A month written as a word. Short words with accents (in any encoding, when they begin with
// an ASCII letter) or in another European alphabet are taken as months where a date can
// stand; plain ASCII ones must be known.
bool IsMonthWord(QByteArrayView text) {
    text = WithoutPunctuation(text);
    if (text.size() < 3 || text.size() > 12 || StartsWithDigit(text))
        return false;
    if (!IsAscii(text))
        return (IsAsciiLetter(text[0]) && text.size() <= 8) || IsEuropeanWord(text);
    const QByteArray lower = Lower(text);
    for (const char* name : kMonthNames) {
        const QByteArrayView full(name);
        if (lower == full || (lower.size() >= 3 && full.startsWith(lower)))
            return true;
    }
    return false;
}

// Digits followed by a non-ASCII mark, as "5月", "2022年", "30日", "1월" in any encoding.
qint64 MarkedNumber(QByteArrayView text, qsizetype maxDigits) {
    qsizetype digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const qsizetype mark = text.size() - digits;
    if (digits == 0 || digits > maxDigits || mark < 1 || mark > 4 || IsAscii(text.sliced(digits)))
        return -1;
    return Number(text.first(digits));
}

qint64 PlainOrMarked(QByteArrayView text, qsizetype maxDigits) {
    const QByteArrayView bare = text.endsWith('.') || text.endsWith(',') ? text.chopped(1) : text;
    if (bare.size() <= maxDigits && AllDigits(bare))
        return Number(bare);
    return MarkedNumber(text, maxDigits);
}

bool IsDay(QByteArrayView text) {
    const qint64 day = PlainOrMarked(text, 2);
    return day >= 1 && day <= 31;
}

bool IsMonthNumber(QByteArrayView text) {
    const qint64 month = PlainOrMarked(text, 2);
    return month >= 1 && month <= 12;
}

bool IsMonth(QByteArrayView text) {
    return IsMonthWord(text) || (MarkedNumber(text, 2) >= 1 && MarkedNumber(text, 2) <= 12);
}

bool IsYear(QByteArrayView text) {
    return PlainOrMarked(text, 4) >= 1900 && text.size() >= 4;
}

bool IsTimeOrYear(QByteArrayView text) {
    return IsClock(text) || IsYear(text);
}

// The digit groups of a date written as one field: "2021-07-08", "17-05-2020", "2016.12.31",
// "11-03", "2022年6月30日". Empty when the field is anything else.
std::vector<QByteArrayView> DigitGroups(QByteArrayView text) {
    std::vector<QByteArrayView> groups;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype begin = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == begin)
            return {};
        groups.push_back(text.sliced(begin, i - begin));
        const qsizetype separator = i;
        while (i < text.size()) {
            if (static_cast<unsigned char>(text[i]) >= 0x80) {
                // In Shift_JIS and Big5 the second byte of a character may be ASCII ("年" is
                // "\x94N", "\xa6~"); it is never a digit.
                i += i + 1 < text.size() && !StartsWithDigit(text.sliced(i + 1)) ? 2 : 1;
            } else if (text[i] == '-' || text[i] == '/' || text[i] == '.') {
                ++i;
            } else {
                break;
            }
        }
        if (i - separator > 4 || (i == separator && i < text.size()))
            return {};
        if (i == separator)
            break;
    }
    return groups;
}

bool IsFullDate(QByteArrayView text) {
    const std::vector<QByteArrayView> groups = DigitGroups(text);
    if (groups.size() != 3)
        return false;
    const bool yearFirst = groups[0].size() == 4 && groups[1].size() <= 2 && groups[2].size() <= 2;
    const bool yearLast = groups[2].size() == 4 && groups[0].size() <= 2 && groups[1].size() <= 2;
    // "31.01.24", "01-31-24": a two-digit year needs all parts padded, or "1.2.3" would pass.
    const bool shortYear = groups[0].size() == 2 && groups[1].size() == 2 && groups[2].size() == 2;
    return yearFirst || yearLast || shortYear;
}

bool IsMonthAndDay(QByteArrayView text) {
    const std::vector<QByteArrayView> groups = DigitGroups(text);
    return groups.size() == 2 && groups[0].size() <= 2 && groups[1].size() <= 2 &&
           Number(groups[0]) >= 1 && Number(groups[0]) <= 12 && Number(groups[1]) >= 1 &&
           Number(groups[1]) <= 31;
}

// "10:00", "10:00:05", "10:00:05.123456789"
bool IsPreciseClock(QByteArrayView text) {
    const qsizetype dot = text.indexOf('.');
    return IsClock(dot < 0 ? text : text.first(dot)) &&
           (dot < 0 || AllDigits(text.sliced(dot + 1)));
}

// "+0800", "-0500"
bool IsTimeZone(QByteArrayView text) {
    return text.size() == 5 && (text[0] == '+' || text[0] == '-') && AllDigits(text.sliced(1));
}

// The last field of a date that begins at field `i`, or 0 when none begins there.
size_t DateEndingAt(const ListingFields& f, size_t i) {
    const size_t n = f.Count();
    auto has = [&](size_t k) { return k < n; };
    // "Jan 5 10:00", "JUNE 5 2019", "5月 21 14:02", "9月 3日 17:45"; "Sep 18, 2015 07:42"
    if (has(i + 2) && IsMonth(f[i]) && IsDay(f[i + 1])) {
        // With seconds the year follows the time: "Jan  5 10:00:00 2021" ("ls -lT").
        if (IsClock(f[i + 2]))
            return has(i + 3) && f[i + 2].size() == 8 && IsYear(f[i + 3]) ? i + 3 : i + 2;
        if (IsYear(f[i + 2]))
            return has(i + 3) && f[i + 1].endsWith(',') && IsClock(f[i + 3]) ? i + 3 : i + 2;
    }
    // "07 mar 2019", "18 Nov 23:10", "14. Mai, 08:20", "3. Dez. 2019"
    if (has(i + 2) && IsDay(f[i]) && IsMonthWord(f[i + 1]) && IsTimeOrYear(f[i + 2]))
        return i + 2;
    // "2022年 6月 30日", "2022年 6月30日", optionally with a time
    if (has(i + 1) && MarkedNumber(f[i], 4) >= 1900) {
        size_t last = 0;
        if (has(i + 2) && IsMonthNumber(f[i + 1]) && IsDay(f[i + 2]))
            last = i + 2;
        else if (IsMonthAndDay(f[i + 1]))
            last = i + 1;
        if (last != 0)
            return has(last + 1) && IsClock(f[last + 1]) ? last + 1 : last;
    }
    // "2021-07-08 19:40", "2016.12.31", "17-05-2020 06:45", "05-Mar-2019 10:00",
    // "2021-07-08 19:40:05.123456789 +0800" ("ls --full-time")
    if (IsFullDate(f[i]) || ListingDates::IsDashedDate(f[i])) {
        if (!has(i + 1) || !IsPreciseClock(f[i + 1]))
            return i;
        return has(i + 2) && IsTimeZone(f[i + 2]) ? i + 2 : i + 1;
    }
    // "11-03 2019", "11-03 08:15"
    if (has(i + 1) && IsMonthAndDay(f[i]) && IsTimeOrYear(f[i + 1]))
        return i + 1;
    // "4 17 09:05"
    if (has(i + 2) && IsMonthNumber(f[i]) && AllDigits(f[i + 1]) && IsDay(f[i + 1]) &&
        IsClock(f[i + 2]))
        return i + 2;
    return 0;
}

} // namespace

namespace ListingDates {

std::optional<DateFields> Find(const ListingFields& fields, size_t from) {
    for (size_t i = from; i < fields.Count(); ++i) {
        if (const size_t last = DateEndingAt(fields, i))
            return DateFields{i, last};
    }
    return std::nullopt;
}

bool IsDashedDate(QByteArrayView text) {
    const std::vector<QByteArrayView> parts = Split(text, '-');
    if (parts.size() != 3 || (parts[2].size() != 4 && parts[2].size() != 2) || !AllDigits(parts[2]))
        return false;
    return (IsDay(parts[0]) && IsMonthWord(parts[1])) || (IsMonthWord(parts[0]) && IsDay(parts[1]));
}

bool IsNumericDate(QByteArrayView text) {
    const std::vector<QByteArrayView> groups = DigitGroups(text);
    if (groups.size() != 3 || !IsAscii(text))
        return false;
    for (QByteArrayView group : groups) {
        if (group.size() == 3 || group.size() > 4)
            return false;
    }
    return groups[1].size() <= 2;
}

} // namespace ListingDates
