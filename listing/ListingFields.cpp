#include "ListingFields.h"

#include <cmath>
#include <cstring>

ListingFields::ListingFields(QByteArrayView line, size_t maxFields) : m_line(line) {
    using ListingText::IsBlank;
    qsizetype i = 0;
    while (i < line.size() && m_fields.size() < maxFields) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size())
            break;
        const qsizetype begin = i;
        if (m_fields.size() + 1 == maxFields) {
            m_fields.push_back({begin, line.size()});
            break;
        }
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        m_fields.push_back({begin, i});
    }
}

QByteArrayView ListingFields::operator[](size_t i) const {
    return m_line.sliced(m_fields[i].begin, m_fields[i].end - m_fields[i].begin);
}

QByteArrayView ListingFields::NameAfter(size_t i) const {
    const qsizetype end = m_fields[i].end;
    return end + 1 < m_line.size() ? m_line.sliced(end + 1) : QByteArrayView();
}

QByteArrayView ListingFields::TrimmedAfter(size_t i) const {
    qsizetype begin = m_fields[i].end;
    while (begin < m_line.size() && ListingText::IsBlank(m_line[begin]))
        ++begin;
    return m_line.sliced(begin);
}

namespace ListingText {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool AllDigits(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool AllHexDigits(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool StartsWithDigit(QByteArrayView text) {
    return !text.isEmpty() && text[0] >= '0' && text[0] <= '9';
}

bool IsClock(QByteArrayView text) {
    const qsizetype colon = text.indexOf(':');
    if (colon < 1 || colon > 2 || !AllDigits(text.first(colon)))
        return false;
    const QByteArrayView rest = text.sliced(colon + 1);
    if (rest.size() == 2)
        return AllDigits(rest);
    return rest.size() == 5 && rest[2] == ':' && AllDigits(rest.first(2)) &&
           AllDigits(rest.sliced(3));
}

qint64 Number(QByteArrayView text) {
    return AllDigits(text) && text.size() < 19 ? text.toLongLong() : -1;
}

qint64 Size(QByteArrayView text) {
    if (text.isEmpty() || !StartsWithDigit(text))
        return -1;
    if (AllDigits(text))
        return Number(text);
    // Thousands separators: groups of three digits after the first.
    const char separator = text.contains(',') ? ',' : '.';
    const std::vector<QByteArrayView> groups = Split(text, separator);
    bool grouped = groups.size() > 1 && groups[0].size() <= 3 && AllDigits(groups[0]);
    for (size_t i = 1; grouped && i < groups.size(); ++i)
        grouped = groups[i].size() == 3 && AllDigits(groups[i]);
    if (grouped) {
        QByteArray digits;
        for (QByteArrayView group : groups)
            digits += group.toByteArray();
        return Number(digits);
    }
    // A number with a unit: "12.5k", "3M", "3KB".
    QByteArrayView unit = text;
    while (!unit.isEmpty() && (StartsWithDigit(unit) || unit[0] == '.'))
        unit = unit.sliced(1);
    const QByteArray lowerUnit = Lower(unit);
    static const char kUnits[] = "kmgt";
    const char* position = lowerUnit.isEmpty() ? nullptr : std::strchr(kUnits, lowerUnit[0]);
    if (!position ||
        (lowerUnit.size() > 1 && lowerUnit.sliced(1) != "b" && lowerUnit.sliced(1) != "ib"))
        return -1;
    bool ok = false;
    const double value = text.first(text.size() - unit.size()).toDouble(&ok);
    if (!ok || value > 1e6)
        return -1;
    return static_cast<qint64>(std::llround(value * std::pow(1024.0, 1 + (position - kUnits))));
}

QByteArray Lower(QByteArrayView text) {
    return text.toByteArray().toLower();
}

std::vector<QByteArrayView> Split(QByteArrayView text, char separator) {
    std::vector<QByteArrayView> parts;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.sliced(begin, i - begin));
            begin = i + 1;
        }
    }
    return parts;
}

QByteArrayView LastSegment(QByteArrayView path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    return slash >= 0 && slash + 1 < path.size() ? path.sliced(slash + 1) : path;
}

} // namespace ListingText
