// The Mazovia code page (Polish DOS), which neither Windows nor iconv knows.
#pragma once
#include <string>
#include <string_view>

namespace host {
// Converts Mazovia text to UTF-8. The control bytes 0x01 to 0x05 are dropped,
// or shown as <1> ... <5> when showControls is set.
std::string MazoviaToUtf8(std::string_view text, bool showControls = false);
// Converts UTF-8 text to Mazovia; characters it lacks become '?'.
std::string Utf8ToMazovia(std::string_view text);
} // namespace host
