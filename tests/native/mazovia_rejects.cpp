// Texts that must not compile: the build of each case must stop at the
// conversion's own diagnostic (see CMakeLists.txt).
#include "hostapi/mazovia.h"

#if defined(FOREIGN_CHARACTER)
constexpr auto kText = MAZOVIA("Cena 5 €"); // the code page has no euro sign
#elif defined(MAZOVIA_ESCAPE)
constexpr auto kText = MAZOVIA("B\x92\x86" "d"); // Mazovia bytes, not UTF-8
#elif defined(CUT_CHARACTER)
constexpr auto kText = MAZOVIA("Wi\xC4"); // the text ends inside a character
#else
constexpr auto kText = MAZOVIA("Błąd"); // the control case compiles
#endif
static_assert(sizeof kText > 0);
