// The stand-in host's dates (see host/DATA.md). Plain C++: it builds for the
// build machine too, where its tests run.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// Stored in records as "YYYYMMDD"; typed in the date dialog as "DD.MM.YY";
// shown as "DD.MM.YYYY". DateKey reads at most maxLength characters of any
// of the three forms (separator '.', '-' or '/', blanks around ignored) and
// gives YYYYMMDD as a number, or 0 for an empty or malformed text, which so
// orders before every real date.
int32_t DateKey(const char *text, size_t maxLength = 12);

// HostCompareDates: below, at or above 0 as a is earlier than, the same day
// as, or later than b.
int32_t CompareDateTexts(const char *a, const char *b);

// HostFormatDate: the display form of a stored date (its first 8
// characters); "??.??.????" when it is no date.
std::string DisplayDate(const char *stored);

} // namespace host
