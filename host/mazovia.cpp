#include "host/mazovia.h"

#include "hostapi/mazovia.h"

// Both ways with the table the plug-in's texts are converted with.

namespace host {

std::string MazoviaToUtf8(std::string_view text, bool showControls)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x80) {
            out += mazovia::UpperHalf[c - 0x80];
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
        unsigned char mapped = mazovia::FromUtf8(text.substr(i, len));
        out += mapped != 0 ? static_cast<char>(mapped) : '?';
        i += len;
    }
    return out;
}

} // namespace host
