// The Mazovia code page (Polish DOS), in which the host and the plug-in
// exchange every text: the PC's code page 437 with the Polish letters in
// place of some of its symbols. Neither Windows nor iconv knows it.
//
// The plug-in's texts are written in the source as UTF-8 and turned into
// Mazovia bytes while compiling:
//
//     constexpr auto kTitle = MAZOVIA("Błąd");   // 5 bytes: 42 92 86 64 00
//     MAZOVIA_TEXT(kTitle, "Błąd");              // the same, aligned as a literal
//
// Bytes below 0x80 (ASCII and the host's control bytes 0x01 to 0x05) are
// kept as they are. A character the code page lacks, or a byte that is not
// UTF-8 (a Mazovia byte written as an escape), does not compile.
#pragma once
#include <cstddef>
#include <string_view>

namespace mazovia {

// Bytes 0x80 to 0xFF, as UTF-8. The stand-in host converts with the same
// table (host/mazovia.cpp).
inline constexpr std::string_view UpperHalf[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "ą", "ç", // 80
    "ê", "ë", "è", "ï", "î", "ć", "Ä", "Ą", // 88
    "Ę", "ę", "ł", "ô", "ö", "Ć", "û", "ù", // 90
    "Ś", "Ö", "Ü", "¢", "Ł", "¥", "ś", "ƒ", // 98
    "Ź", "Ż", "ó", "Ó", "ń", "Ń", "ź", "ż", // A0
    "¿", "⌐", "¬", "½", "¼", "¡", "«", "»", // A8
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖", // B0
    "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐", // B8
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟", // C0
    "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧", // C8
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫", // D0
    "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀", // D8
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ", // E0
    "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩", // E8
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈", // F0
    "°", "∙", "·", "√", "ⁿ", "²", "■", "\u00A0", // F8: FF no-break space
};

// The byte of the UTF-8 character ch, or 0 when the code page lacks it.
constexpr unsigned char FromUtf8(std::string_view ch)
{
    for (int k = 0; k < 128; ++k)
        if (UpperHalf[k] == ch)
            return static_cast<unsigned char>(0x80 + k);
    return 0;
}

// Bytes of the UTF-8 character that starts with lead: 1 for ASCII, 0 for a
// byte that cannot start one.
constexpr size_t Utf8Length(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
}

// Not defined: reached only while compiling a text that is not convertible,
// it stops the compilation there.
void NotInMazoviaCodePage();

// The next character of utf8 from offset i, as its Mazovia byte; i moves past it.
template <size_t N>
consteval char NextByte(const char (&utf8)[N], size_t &i)
{
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = Utf8Length(lead);
    if (length == 0 || i + length >= N)
        NotInMazoviaCodePage();
    if (length == 1) {
        ++i;
        return static_cast<char>(lead);
    }
    unsigned char byte = FromUtf8(std::string_view(utf8 + i, length));
    if (byte == 0)
        NotInMazoviaCodePage();
    i += length;
    return static_cast<char>(byte);
}

// The Mazovia length of a UTF-8 text, its terminating zero included.
template <size_t N>
consteval size_t Length(const char (&utf8)[N])
{
    size_t bytes = 1;
    for (size_t i = 0; i + 1 < N; ++bytes)
        NextByte(utf8, i);
    return bytes;
}

// A Mazovia text of Bytes bytes, terminating zero included, laid out as a
// plain char array. It is not copied: passed where a pointer is expected it
// gives its first byte, and passing it through "..." does not compile.
template <size_t Bytes>
struct Text {
    char bytes[Bytes];

    template <size_t N>
    consteval explicit Text(const char (&utf8)[N]) : bytes{}
    {
        size_t out = 0;
        for (size_t i = 0; i + 1 < N;)
            bytes[out++] = NextByte(utf8, i);
        bytes[out] = 0;
    }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    constexpr operator const char *() const { return bytes; }
};

} // namespace mazovia

// The Mazovia text of a UTF-8 string literal, converted while compiling.
#define MAZOVIA(utf8) (::mazovia::Text<::mazovia::Length(utf8)>(utf8))

// A named Mazovia text, aligned as the compiler aligns a string literal
// (4 bytes from 31 bytes on): naming a text moves none of the image's data.
#define MAZOVIA_TEXT(name, utf8)                                                               \
    alignas(::mazovia::Length(utf8) >= 31 ? 4 : 1) constexpr auto name = MAZOVIA(utf8)
