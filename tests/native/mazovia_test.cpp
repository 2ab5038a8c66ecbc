#include <gtest/gtest.h>

#include "host/mazovia.h"
#include "hostapi/mazovia.h"

namespace {

// The Polish letters of the code page, stated apart from its table.
const std::string kPolishMazovia = "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1 \x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7";
const std::string kPolishUtf8 = "ĄĆĘŁŃÓŚŹŻ ąćęłńóśźż";

TEST(Mazovia, PolishLettersBothWays)
{
    EXPECT_EQ(host::MazoviaToUtf8(kPolishMazovia), kPolishUtf8);
    EXPECT_EQ(host::Utf8ToMazovia(kPolishUtf8), kPolishMazovia);
}

TEST(Mazovia, ControlBytesTakeNoCell)
{
    EXPECT_EQ(host::MazoviaToUtf8("\x02" "F3\x01 Okres Od"), "F3 Okres Od");
    EXPECT_EQ(host::MazoviaToUtf8("\x05" "F12\x01", true), "<5>F12<1>");
    EXPECT_EQ(host::MazoviaToUtf8("\xC9\xCD\xBB"), "╔═╗"); // frames as in code page 437
    EXPECT_EQ(host::Utf8ToMazovia("€"), "?");
}

// The plug-in's texts, converted while compiling.
TEST(Mazovia, TextsConvertedWhileCompiling)
{
    constexpr auto polish = MAZOVIA("ĄĆĘŁŃÓŚŹŻ ąćęłńóśźż");
    static_assert(sizeof polish == 20);
    EXPECT_EQ(std::string(polish.bytes, sizeof polish), kPolishMazovia + '\0');

    // ASCII and the host's control bytes stay as they are.
    constexpr auto label = MAZOVIA("\x01p\x02" "F3\x01 Okres Od\x01");
    static_assert(sizeof label == 17);
    EXPECT_EQ(std::string(label.bytes, sizeof label), std::string("\x01p\x02" "F3\x01 Okres Od\x01", 17));

    constexpr auto empty = MAZOVIA("");
    static_assert(sizeof empty == 1);
    EXPECT_EQ(empty.bytes[0], 0);
}

// Every character of the table stands in it once, so that a text goes to
// Mazovia and back unchanged, at compile time and in the host alike.
TEST(Mazovia, EveryUpperByteBothWays)
{
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const std::string mazovia(1, static_cast<char>(byte));
        const std::string utf8 = host::MazoviaToUtf8(mazovia);
        EXPECT_EQ(host::Utf8ToMazovia(utf8), mazovia);
        EXPECT_EQ(mazovia::FromUtf8(utf8), byte);
        EXPECT_EQ(mazovia::Utf8Length(static_cast<unsigned char>(utf8[0])), utf8.size());
    }
}

} // namespace
