#include "host/mazovia.h"

namespace host {
namespace {

// Bytes 0x80 to 0xFF of the Mazovia code page: the PC's code page 437 with
// the Polish letters in place of some of its symbols.
const char *const kUpperHalf[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "ą", "ç",
    "ê", "ë", "è", "ï", "î", "ć", "Ä", "Ą",
    "Ę", "ę", "ł", "ô", "ö", "Ć", "û", "ù",
    "Ś", "Ö", "Ü", "¢", "Ł", "¥", "ś", "ƒ",
    "Ź", "Ż", "ó", "Ó", "ń", "Ń", "ź", "ż",
    "¿", "⌐", "¬", "½", "¼", "¡", "«", "»",
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖",
    "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐",
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟",
    "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧",
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫",
    "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀",
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ",
    "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩",
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈",
    "°", "∙", "·", "√", "ⁿ", "²", "■", " ",
};

} // namespace

std::string MazoviaToUtf8(std::string_view text, bool showControls)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x80) {
            out += kUpperHalf[c - 0x80];
        } else if (c >= 0x01 && c <= 0x05) {
            if (showControls) {
                out += '<';
                out += static_cast<char>('0' + c);
                out += '>';
            }
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Utf8ToMazovia(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        std::string_view ch = text.substr(i, len);
        char mapped = '?';
        for (int k = 0; k < 128; ++k)
            if (ch == kUpperHalf[k]) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        out += mapped;
        i += len;
    }
    return out;
}

} // namespace host
