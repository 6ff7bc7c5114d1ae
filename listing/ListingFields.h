#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

// The blank-separated fields of one listing line, with where each begins and ends, so that a
// name can be taken from the line as it is, inner blanks and all.
class ListingFields {
public:
    // Splits at blanks and tabs; at most `maxFields`, the last one running to the line's end.
    explicit ListingFields(QByteArrayView line, size_t maxFields = 64);

    size_t Count() const { return m_fields.size(); }
    QByteArrayView operator[](size_t i) const;
    // The rest of the line after field `i` and the one blank that separates it from the name.
    QByteArrayView NameAfter(size_t i) const;
    // The rest of the line after field `i`, without any blanks before it.
    QByteArrayView TrimmedAfter(size_t i) const;

private:
    struct Span {
        qsizetype begin;
        qsizetype end;
    };
    QByteArrayView m_line;
    std::vector<Span> m_fields;
};

namespace ListingText {

bool IsBlank(char c);
bool AllDigits(QByteArrayView text);
bool AllHexDigits(QByteArrayView text);
bool StartsWithDigit(QByteArrayView text);
// "10:00", "9:05", "18:09:37", "24:00"
bool IsClock(QByteArrayView text);
// A whole number of at most 18 digits; -1 otherwise.
qint64 Number(QByteArrayView text);
// "1234", "1,234,567", "1.234.567", "12.5k", "3M", "3KB": bytes, -1 when it is no size.
qint64 Size(QByteArrayView text);
QByteArray Lower(QByteArrayView text);
std::vector<QByteArrayView> Split(QByteArrayView text, char separator);
// The last segment of a path that may end in "/".
QByteArrayView LastSegment(QByteArrayView path);

} // namespace ListingText
