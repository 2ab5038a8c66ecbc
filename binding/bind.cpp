// Binding of the host's numbered entries on their first call, the report of
// a missing entry and the fallback that an ignored missing entry gets.
#include "binding/bind.h"

#include <windows.h>

#include <type_traits>

#include "plugin/host_services.h"
#include "plugin/plugin.h"

namespace {

// Each %s between highlight on (0x02) and highlight off (0x01).
constexpr auto kFormat = MAZOVIA("W module \x02%s\x01\nbrak wpisu \x02%s\x01\n"
                                 "Wywołano z wtyczki \x02%s\x01.\n\n"
                                 "Błąd ten można zignorować lecz dalsza praca\n"
                                 "programu w tych warunkach może być niebezpieczna.\n\n"
                                 "Konieczna jest aktualizacja programu!");
static_assert(sizeof kFormat - 1 == MissingEntryText::kFormatLength);
static_assert(MissingEntryText::kFormatLength - 3 * 2 == MissingEntryText::kFixedLength);

constexpr auto kCaption = MAZOVIA("POWAŻNY BŁĄD WTYCZKI");
static_assert(sizeof kCaption == 21);

constexpr char kUnknownModule[] = "<nieznany>";
constexpr char kEllipsis[] = "...";
constexpr char kHighlightOn = 0x02;
constexpr char kHighlightOff = 0x01;

constexpr UINT kReportStyle = MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_TASKMODAL;
static_assert(kReportStyle == 0x2012);
constexpr int32_t kConvertFromSet = 1; // the host's own text
constexpr int32_t kConvertToSet = 3;   // the system's message box

constexpr uint32_t kCallerCleans = 99; // last two digits of such a hundred-series number

// What each service the plug-in declares (hostapi/service_list.h)
// removes from the stack on return; 0 where the caller removes the
// arguments. An ignored missing entry gets the stub that removes exactly
// this many bytes, whatever its number's digits say.
//
// HostCreateProcess is left out on purpose: it stands behind the guarded
// CreateProcessA, and a process start that silently "succeeds" with 0 is
// worse than the fault an Empty slot gives.
// A service that returns a double gets a stub that also leaves 0.0 on the
// x87 stack, where its caller takes the result from.
struct DeclaredService {
    uint32_t number;
    uint8_t argumentBytes;
    bool realResult = false;
};

constexpr uint32_t kNoFallbackEntry = 52005; // HostCreateProcess

#define TOLMAR_DECLARED_SERVICE(number, name, convention, result, parameters)                    \
    {number, TOLMAR_REMOVED_BYTES(convention, result, parameters),                               \
     std::is_same_v<result, double>},
constexpr DeclaredService kListedServices[] = {TOLMAR_HOST_SERVICES(TOLMAR_DECLARED_SERVICE)};
#undef TOLMAR_DECLARED_SERVICE

constexpr size_t CountWithFallback()
{
    size_t n = 0;
    for (const DeclaredService &s : kListedServices)
        n += s.number != kNoFallbackEntry;
    return n;
}

struct DeclaredServices {
    DeclaredService services[CountWithFallback()];
};
constexpr DeclaredServices WithFallback()
{
    DeclaredServices d{};
    size_t n = 0;
    for (const DeclaredService &s : kListedServices)
        if (s.number != kNoFallbackEntry)
            d.services[n++] = s;
    return d;
}
constexpr DeclaredServices kDeclaredServices = WithFallback();

constexpr int kRealResultStubBytes = 12; // FallbackStubReal3

// HostConvertText's own slot and first-call piece (binding/entry_thunks.S).
extern "C" void *ConvertTextSlot __asm__("EntrySlot_52158");
extern "C" char ConvertTextFirstCall[] __asm__("FirstCall_52158");
constexpr uint32_t kConvertTextEntry = 52158;

// MessageBoxA's delay-import cell (binding/delay_imports.S). The compiler
// takes an import cell for a constant and would read it once for the whole
// Retry loop; at the first report of a load it still holds the binding stub,
// and every box would run the binding again. Read anew for each box, it is
// the bound function from the second box on.
extern "C" int(WINAPI *volatile MessageBoxCell)(HWND, LPCSTR, LPCSTR, UINT)
    __asm__("__imp__MessageBoxA@16");

int Length(const char *text)
{
    int n = 0;
    while (text[n])
        ++n;
    return n;
}

// Writes number in decimal with a terminating zero; returns the digit count.
int WriteDecimal(char *out, uint32_t number)
{
    char reversed[10];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    for (int i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    out[n] = 0;
    return n;
}

// The path as it fits into room characters: whole, or "..." and its tail,
// which names the program.
const char *FitPath(const char *path, int room, char *shortened)
{
    int length = Length(path);
    if (length <= room)
        return path;
    int tail = room - (sizeof kEllipsis - 1);
    __builtin_memcpy(shortened, kEllipsis, sizeof kEllipsis - 1);
    __builtin_memcpy(shortened + sizeof kEllipsis - 1, path + length - tail, tail + 1);
    return shortened;
}

// Whether HostConvertText can be called: binds it first if it is still
// unbound. A missing 52158 is reported from inside that binding; its slot is
// then already null, so the nested report finds it unusable and shows its
// text unconverted instead of calling through the Empty slot.
bool ConverterUsable()
{
    if (ConvertTextSlot == static_cast<void *>(ConvertTextFirstCall))
        BindEntry(kConvertTextEntry, &ConvertTextSlot);
    return ConvertTextSlot != nullptr;
}

bool InHundredSeries(uint32_t number)
{
    for (const uint32_t *n = HundredSeriesTable; n != HundredSeriesTableEnd; ++n)
        if (*n == number)
            return true;
    return false;
}

} // namespace

extern "C" void __stdcall BindEntry(uint32_t number, void **slot)
{
    void *found = nullptr;
    if (HostQuery)
        found = reinterpret_cast<void *>(
            HostQuery(kHostQueryProcedure, reinterpret_cast<const void *>(uintptr_t{number})));
    *slot = found;
    if (found)
        return;
    if (ReportMissingEntry(number))
        PickFallback(number, slot);
    else
        *slot = nullptr;
}

extern "C" int32_t ReportMissingEntry(uint32_t number)
{
    char path[MissingEntryText::kPathLimit + 1];
    DWORD pathLength = GetModuleFileNameA(nullptr, path, MissingEntryText::kPathLimit);
    if (pathLength == 0)
        lstrcpyA(path, kUnknownModule);
    else
        path[pathLength] = 0; // a truncated name comes without its zero

    char digits[11];
    int digitCount = WriteDecimal(digits, number);
    char title[sizeof PluginTitle];
    CopyPluginTitle(title);

    // The fixed text, the number and the title always fit; the path gets
    // what is left of the 511 characters.
    int room = MissingEntryText::kBufferSize - 1 - MissingEntryText::kFixedLength - digitCount -
               (static_cast<int>(sizeof PluginTitle) - 1);
    char shortened[MissingEntryText::kPathLimit + 1];
    const char *shownPath = FitPath(path, room, shortened);

    char message[MissingEntryText::kBufferSize];
    wsprintfA(message, kFormat, shownPath, digits, title);
    char caption[sizeof kCaption];
    __builtin_memcpy(caption, kCaption, sizeof kCaption);

    if (UnderWindows) {
        for (char *c = message; *c; ++c)
            if (*c == kHighlightOn || *c == kHighlightOff)
                *c = ' ';
        if (ConverterUsable()) {
            HostConvertText(message, message, kConvertFromSet, kConvertToSet);
            HostConvertText(caption, caption, kConvertFromSet, kConvertToSet);
        }
    }

    int answer;
    do
        answer = MessageBoxCell(nullptr, message, caption, kReportStyle);
    while (answer == IDRETRY);
    return answer == IDIGNORE;
}

extern "C" void PickFallback(uint32_t number, void **slot)
{
    int bytes = -1; // unknown
    for (const DeclaredService &s : kDeclaredServices.services) {
        if (s.number != number)
            continue;
        if (s.realResult) {
            *slot = s.argumentBytes == kRealResultStubBytes
                        ? reinterpret_cast<void *>(&FallbackStubReal3)
                        : nullptr;
            return;
        }
        bytes = s.argumentBytes;
    }
    if (bytes < 0 && InHundredSeries(number)) {
        uint32_t b = number % 100;
        bytes = b == kCallerCleans ? 0 : static_cast<int>(b);
    }
    // An entry of the consecutive series that the plug-in does not declare:
    // its digits say nothing of its arguments, so no stub can be trusted to
    // leave the caller's stack as it should be. It stays Empty.
    if (bytes >= 0 && bytes % 4 == 0 && bytes / 4 < kFallbackStubCount)
        *slot = FallbackStubTable[bytes / 4];
    else
        *slot = nullptr;
}
