#include <gtest/gtest.h>

#include "host/mazovia.h"

namespace {

TEST(Mazovia, PolishLettersBothWays)
{
    const std::string mazovia = "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1 \x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7";
    const std::string utf8 = "ĄĆĘŁŃÓŚŹŻ ąćęłńóśźż";
    EXPECT_EQ(host::MazoviaToUtf8(mazovia), utf8);
    EXPECT_EQ(host::Utf8ToMazovia(utf8), mazovia);
}

TEST(Mazovia, ControlBytesTakeNoCell)
{
    EXPECT_EQ(host::MazoviaToUtf8("\x02" "F3\x01 Okres Od"), "F3 Okres Od");
    EXPECT_EQ(host::MazoviaToUtf8("\x05" "F12\x01", true), "<5>F12<1>");
    EXPECT_EQ(host::MazoviaToUtf8("\xC9\xCD\xBB"), "╔═╗"); // frames as in code page 437
    EXPECT_EQ(host::Utf8ToMazovia("€"), "?");
}

} // namespace
