#include "host/dates.h"

#include <cstdio>
#include <cstring>

namespace host {
namespace {

bool digits(const char *s, int n, int *value)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return true;
}

bool isSeparator(char c) { return c == '.' || c == '-' || c == '/'; }

int daysIn(int month, int year)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

int32_t DateKey(const char *text, size_t maxLength)
{
    if (!text)
        return 0;
    size_t len = strnlen(text, maxLength);
    size_t begin = 0;
    while (begin < len && text[begin] == ' ')
        ++begin;
    while (len > begin && text[len - 1] == ' ')
        --len;
    const char *s = text + begin;
    size_t n = len - begin;
    int year = 0, month = 0, day = 0;
    if (n == 8 && digits(s, 4, &year) && digits(s + 4, 2, &month) && digits(s + 6, 2, &day)) {
        // stored: YYYYMMDD
    } else if ((n == 8 || n == 10) && isSeparator(s[2]) && s[5] == s[2] && digits(s, 2, &day) &&
               digits(s + 3, 2, &month) && digits(s + 6, static_cast<int>(n) - 6, &year)) {
        if (n == 8) // DD.MM.YY: 80-99 are the 1900s, 00-79 the 2000s
            year += year >= 80 ? 1900 : 2000;
    } else {
        return 0;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysIn(month, year))
        return 0;
    return year * 10000 + month * 100 + day;
}

int32_t CompareDateTexts(const char *a, const char *b)
{
    int32_t ka = DateKey(a), kb = DateKey(b);
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

std::string DisplayDate(const char *stored)
{
    int32_t key = DateKey(stored, 8);
    if (key == 0)
        return "??.??.????";
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", key % 100, key / 100 % 100, key / 10000);
    return text;
}

} // namespace host
