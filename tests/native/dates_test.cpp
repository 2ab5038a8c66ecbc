// The stand-in host's dates: the three forms, their order, and what an empty
// or malformed date means.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/dates.h"

namespace {

using host::CompareDateTexts;
using host::DateKey;
using host::DisplayDate;

TEST(Dates, KeyOfEachForm)
{
    struct Case {
        const char *text;
        int32_t key; // 0: undated
    };
    const Case cases[] = {
        {"20240131", 20240131},   {"31.01.24", 20240131},   {"31.01.2024", 20240131},
        {" 31-01-24 ", 20240131}, {"31/01/2024", 20240131}, {"29.02.24", 20240229},
        {"29.02.23", 0},          {"29.02.00", 20000229},   {"19000229", 0},
        {"01.01.80", 19800101},   {"31.12.79", 20791231},   {"", 0},
        {"        ", 0},          {"2024013", 0},           {"20241301", 0},
        {"20240100", 0},          {"00000101", 0},          {"31.01.24x", 0},
        {"31.01-24", 0},          {"3a.01.24", 0},          {"2024AB01", 0},
        {"31.04.24", 0},          {"??.??.????", 0},        {"-1.01.24", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DateKey(c.text), c.key);
    }
    EXPECT_EQ(DateKey(nullptr), 0);
    // Only as many characters as asked for are read.
    EXPECT_EQ(DateKey("20240131XYZ", 8), 20240131);
    EXPECT_EQ(DateKey("20240131XYZ"), 0);
}

TEST(Dates, AllFormsOrderTogether)
{
    // Each line: the same day in every form; lines in ascending order,
    // undated texts first.
    const std::vector<std::vector<const char *>> days = {
        {"", "  ", "2024AB01", "30.02.24", "??.??.????"},
        {"19991231", "31.12.99", "31.12.1999"},
        {"20000101", "01.01.00", "01-01-2000"},
        {"20240105", "05.01.24", "05.01.2024"},
        {"20240131", "31/01/24", "31.01.2024"},
    };
    for (size_t i = 0; i < days.size(); ++i)
        for (size_t j = 0; j < days.size(); ++j)
            for (const char *a : days[i])
                for (const char *b : days[j]) {
                    SCOPED_TRACE(std::string(a) + " against " + b);
                    int32_t sign = CompareDateTexts(a, b);
                    EXPECT_EQ(sign < 0, i < j);
                    EXPECT_EQ(sign == 0, i == j);
                    EXPECT_EQ(sign > 0, i > j);
                }
}

TEST(Dates, DisplayFormOfStoredDates)
{
    struct Case {
        const char *stored;
        const char *shown;
    };
    const Case cases[] = {
        {"20240131", "31.01.2024"}, {"19991231", "31.12.1999"}, {"00010101", "01.01.0001"},
        {"20240131Z", "31.01.2024"}, {"2024013", "??.??.????"}, {"", "??.??.????"},
        {"20240230", "??.??.????"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored);
        std::string shown = DisplayDate(c.stored);
        EXPECT_EQ(shown, c.shown);
        EXPECT_LE(shown.size(), 12u); // fits the list's date column
        // The shown text is the same day as the stored one's 8 characters.
        EXPECT_EQ(CompareDateTexts(shown.c_str(), std::string(c.stored).substr(0, 8).c_str()), 0);
    }
}

} // namespace
