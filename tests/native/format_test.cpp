// The runtime's formatter, which also serves wsprintfA and the list's row
// texts, against expected texts and against the C library's printf.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "plugin/runtime/format.h"

namespace {

template <typename... Args> std::string Format(const char *format, Args... args)
{
    char buf[1024];
    int n = FormatBounded(buf, sizeof buf, format, args...);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
    return buf;
}

TEST(Format, ExpectedTexts)
{
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {Format("%c\r%s\r%s\r%.2f\r%s", '*', "MM/1", "Opis", 123.4567, "01.02.26"),
         "*\rMM/1\rOpis\r123.46\r01.02.26"},
        {Format("M%d", 3), "M3"},
        {Format("M%d", -2), "M-2"},
        {Format("%.2f", 1234567 * 0.0001), "123.46"},
        {Format("%.2f", 0.0), "0.00"},
        {Format("%.2f", -0.004), "-0.00"},
        {Format("%.2f", 2.675), "2.67"}, // the double is just below 2.675
        {Format("%.2f", 1e15), "1000000000000000.00"},
        {Format("%5.1f|%-6.1f|%06.2f", 3.14159, 2.5, -1.5), "  3.1|2.5   |-01.50"},
        {Format("%f", NAN), "nan"},
        {Format("%.2f", -INFINITY), "-inf"},
        {Format("%d %i %u", -2147483647 - 1, 42, 4000000000u), "-2147483648 42 4000000000"},
        {Format("%5d|%-5d|%05d|%+d|% d", 42, 42, -42, 5, 5), "   42|42   |-0042|+5| 5"},
        {Format("%x %X %#x %o %#o", 255u, 255u, 255u, 8u, 8u), "ff FF 0xff 10 010"},
        {Format("%hd %hu %ld %lld", 70000, 70000, -7L, 123456789012LL),
         "4464 4464 -7 123456789012"},
        {Format("%s|%.3s|%5s|%-5s|", "abc", "abcdef", "r", "l"), "abc|abc|    r|l    |"},
        {Format("%*d|%-*d|%.*f", 4, 7, 3, 8, 1, 2.25), "   7|8  |2.2"},
        {Format("100%% %q"), "100% %q"},
        {Format("W module \x02%s\x01", "C:\\host.exe"), "W module \x02" "C:\\host.exe\x01"},
        {Format("%e|%E|%g|%g|%g", 12345.678, 0.00012, 0.0001234, 100000.0, 1e20),
         "1.234568e+04|1.200000E-04|0.0001234|100000|1e+20"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(Format, AgreesWithTheCLibrary)
{
    const char *formats[] = {"%f", "%.0f", "%.1f", "%.2f", "%.3f", "%12.4f", "%e", "%.3e", "%g",
                             "%.3g", "%.10g"};
    const double values[] = {0.0,     0.5,      1.5,        2.5,      0.05,        0.125,
                             1.005,   123.456,  99.995,     9.9999,   1234567.891, 0.000123456,
                             -77.125, 1e-7,     4294967296., 12345678901234.5};
    for (const char *format : formats)
        for (double v : values) {
            char expected[256];
            std::snprintf(expected, sizeof expected, format, v);
            EXPECT_EQ(Format(format, v), expected) << format << " of " << v;
        }
}

TEST(Format, BoundedNeverWritesPastItsBuffer)
{
    struct Case {
        const char *name;
        double value;
    };
    const Case cases[] = {{"1e300", 1e300}, {"-1e300", -1e300}, {"max", 1.7976931348623157e308},
                          {"NaN", NAN}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        char buf[48];
        std::memset(buf, 0x55, sizeof buf);
        int full = FormatBounded(buf, 32, "%c\r%s\r%.2f", '*', "MM/1", c.value);
        EXPECT_EQ(std::strlen(buf), std::min<size_t>(31, static_cast<size_t>(full)));
        for (size_t i = 32; i < sizeof buf; ++i)
            ASSERT_EQ(buf[i], 0x55) << "written at " << i;
    }
}

TEST(Format, HugeValuesKeepTheirMagnitude)
{
    std::string text = Format("%.2f", 1e300);
    EXPECT_EQ(text.size(), 301u + 3u);
    EXPECT_EQ(text.substr(0, 17), "10000000000000000"); // 1e300 is 1.0000000000000000525e300
    EXPECT_EQ(text.substr(text.size() - 3), ".00");
}

TEST(Format, UnboundedFormatReturnsLength)
{
    char buf[64];
    EXPECT_EQ(TolmarFormat(buf, "Zainstalowano: %s", "Dok."), 19);
    EXPECT_STREQ(buf, "Zainstalowano: Dok.");
    EXPECT_EQ(FormatBounded(nullptr, 0, "%d", 12345), 5); // size query writes nothing
}

} // namespace
