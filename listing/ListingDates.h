#pragma once

#include "ListingFields.h"

#include <optional>

// Where the date of a listing line lies: its first and last field.
struct DateFields {
    size_t first = 0;
    size_t last = 0;
};

namespace ListingDates {

// The first date at or after field `from`, in any of the forms servers print: month names in
// many languages and any case, numeric dates, day before month, and CJK dates in any encoding.
std::optional<DateFields> Find(const ListingFields& fields, size_t from);

// "5-MAR-1993", "13-Jun-2006", "Jun-08-2005", "01-jun-99": day, month name and year joined by
// dashes.
bool IsDashedDate(QByteArrayView text);
// "09-23-97", "01-31-2024", "4/07/19", "2019-03-05", "31.01.2024"
bool IsNumericDate(QByteArrayView text);

} // namespace ListingDates
