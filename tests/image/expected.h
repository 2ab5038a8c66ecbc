#pragma once
// What the built Tolmar.dll must hold, typed here from the plug-in's
// description and not read from the sources that build it: the catalogue of
// host entries, the guarded system functions, the delay-loaded functions.
// Where the description gives one thing twice (a list and its counts), both
// are written down and the compiler checks that they agree.
#include <array>
#include <cstdint>
#include <string_view>

namespace image::expected {

// --- The catalogue of host entries ------------------------------------------

constexpr unsigned kEntries = 2070;
constexpr unsigned kConsecutiveEntries = 1966;
constexpr unsigned kHundredEntries = 104;
constexpr uint32_t kLowestNumber = 20000;
constexpr uint32_t kHighestNumber = 52503;

// Numbers that have a second entry, with its own thunk and slot.
constexpr std::array<uint32_t, 2> kTwins = {21283, 21294};

// The runs of the consecutive series: first, last, and the entries of the
// run as counted with a twin.
struct Run {
    uint32_t first, last;
    unsigned entries;
};
constexpr std::array<Run, 56> kRuns = {{
    {20000, 20009, 10}, {20011, 20042, 32}, {20101, 20163, 63}, {20201, 20219, 19},
    {20231, 20239, 9},  {20251, 20268, 18}, {20281, 20288, 8},  {20301, 20314, 14},
    {20321, 20330, 10}, {20351, 20358, 8},  {20401, 20409, 9},  {20421, 20430, 10},
    {20451, 20455, 5},  {20466, 20476, 11}, {20484, 20499, 16}, {20521, 20575, 55},
    {20601, 20614, 14}, {20631, 20645, 15}, {20701, 20721, 21}, {20731, 20745, 15},
    {20761, 20782, 22}, {20791, 20807, 17}, {20821, 20828, 8},  {20835, 20845, 11},
    {20901, 20968, 68}, {20971, 20978, 8},  {20981, 21007, 27}, {21011, 21028, 18},
    {21100, 21109, 10}, {21111, 21147, 37}, {21201, 21260, 60}, {21283, 21291, 10},
    {21293, 21299, 8},  {21301, 21332, 32}, {21341, 21368, 28}, {21381, 21406, 26},
    {21411, 21414, 4},  {21416, 21446, 31}, {21451, 21457, 7},  {21461, 21479, 19},
    {21481, 21489, 9},  {21491, 21493, 3},  {21601, 21607, 7},  {21621, 21628, 8},
    {21630, 21644, 15}, {21661, 21669, 9},  {21691, 21701, 11}, {37900, 37967, 68},
    {38001, 38327, 327}, {38338, 38347, 10}, {38349, 38399, 51}, {38403, 38440, 38},
    {41600, 41606, 7},  {50516, 50521, 6},  {51424, 51504, 81}, {52001, 52503, 503},
}};

// The hundred series in ascending order: 100 x hundred + argument bytes
// (99: the caller removes them).
constexpr std::array<uint32_t, kHundredEntries> kHundredSeries = {
    30120, 30204, 30308, 30404, 30520, 30620, 30712, 30816, 30908, 31012, 31120, 31208, 31308,
    31412, 31516, 31608, 31708, 31908, 32008, 32108, 32200, 32300, 32408, 32500, 32699, 32712,
    32808, 32912, 33099, 33100, 33200, 33304, 33408, 33599, 33600, 33700, 33800, 33904, 34004,
    34199, 34200, 34300, 34400, 34504, 34699, 34704, 34804, 34904, 35012, 35104, 35204, 35304,
    35412, 35504, 35616, 35799, 35816, 35916, 36008, 36116, 36208, 36308, 36412, 36520, 36624,
    36708, 36800, 36900, 37000, 37100, 37208, 37304, 37404, 37504, 37600, 37700, 37800, 40004,
    40104, 40212, 40316, 40404, 40512, 40604, 40704, 40808, 40904, 41012, 41112, 41299, 41312,
    41416, 41524, 50148, 50204, 50376, 50612, 50704, 50800, 50904, 51028, 51104, 51244, 51300,
};

// How often each value of the argument bytes occurs in the hundred series.
struct ArgumentBytes {
    uint32_t bytes;
    unsigned entries;
};
constexpr std::array<ArgumentBytes, 12> kHundredArgumentBytes = {{
    {0, 20}, {4, 26}, {8, 18}, {12, 14}, {16, 8}, {20, 5}, {24, 2},
    {28, 1}, {44, 1}, {48, 1}, {76, 1}, {99, 7},
}};

// The hundreds that have a number: 301 to 378 but 318, 400 to 415, 501 to
// 513 but 504 and 505.
constexpr bool HasHundred(uint32_t hundred)
{
    return (hundred >= 301 && hundred <= 378 && hundred != 318) ||
           (hundred >= 400 && hundred <= 415) ||
           (hundred >= 501 && hundred <= 513 && hundred != 504 && hundred != 505);
}

// The entries that pin the catalogue's ends in the slot table: the first
// slot is 20000's, the last 51300's.
constexpr uint32_t kFirstSlotEntry = 20000;
constexpr uint32_t kLastSlotEntry = 51300;

constexpr unsigned kFallbackStubs = 15; // stub k removes 4 x k bytes

// --- The guarded system functions ---------------------------------------------

constexpr unsigned kGuards = 129;

struct Guard {
    std::string_view name;
    unsigned arguments; // 32-bit arguments, removed by the function
    bool zunda = false; // taken from ZUNDA.dll by delay loading
};

constexpr bool Z = true;

constexpr std::array<Guard, kGuards> kGuardTable = {{
    // 0 arguments: 14 rows
    {"AllocConsole", 0}, {"GetACP", 0}, {"GetCommandLineA", 0}, {"GetCurrentProcess", 0},
    {"GetCurrentThread", 0}, {"GetCurrentThreadId", 0}, {"GetEnvironmentStrings", 0},
    {"GetEnvironmentStringsW", 0, Z}, {"GetLastError", 0}, {"GetLogicalDrives", 0},
    {"GetOEMCP", 0}, {"GetUserDefaultLCID", 0, Z}, {"GetVersion", 0}, {"TlsAlloc", 0},
    // 1 argument: 46 rows
    {"CloseHandle", 1}, {"DeleteCriticalSection", 1}, {"DeleteFileA", 1},
    {"EnterCriticalSection", 1}, {"ExitProcess", 1}, {"ExitThread", 1, Z}, {"FindClose", 1},
    {"FlushFileBuffers", 1}, {"FreeEnvironmentStringsA", 1, Z}, {"FreeEnvironmentStringsW", 1, Z},
    {"FreeLibrary", 1}, {"GetDriveTypeA", 1}, {"GetFileAttributesA", 1}, {"GetFileType", 1},
    {"GetLocalTime", 1}, {"GetModuleHandleA", 1}, {"GetStartupInfoA", 1}, {"GetStdHandle", 1},
    {"GetSystemTime", 1}, {"GetTimeZoneInformation", 1}, {"GetVersionExA", 1, Z},
    {"GlobalFree", 1}, {"GlobalMemoryStatus", 1}, {"GlobalLock", 1}, {"GlobalUnlock", 1},
    {"HeapDestroy", 1}, {"InitializeCriticalSection", 1}, {"IsValidCodePage", 1, Z},
    {"InterlockedDecrement", 1, Z}, {"InterlockedIncrement", 1, Z}, {"LeaveCriticalSection", 1},
    {"LoadLibraryA", 1}, {"LocalFree", 1}, {"RemoveDirectoryA", 1}, {"ResumeThread", 1},
    {"SetConsoleTitleA", 1}, {"SetCurrentDirectoryA", 1}, {"SetEndOfFile", 1},
    {"SetHandleCount", 1}, {"SetLastError", 1}, {"SetSystemTime", 1},
    {"SetUnhandledExceptionFilter", 1}, {"Sleep", 1}, {"TlsFree", 1}, {"TlsGetValue", 1},
    {"UnhandledExceptionFilter", 1},
    // 2 arguments: 30 rows
    {"Beep", 2}, {"CreateDirectoryA", 2}, {"EnumSystemLocalesA", 2, Z}, {"FatalAppExitA", 2, Z},
    {"FileTimeToLocalFileTime", 2}, {"FindFirstFileA", 2}, {"FindNextFileA", 2},
    {"GetConsoleMode", 2}, {"GetConsoleScreenBufferInfo", 2}, {"GetCPInfo", 2, Z},
    {"GetCurrentDirectoryA", 2}, {"GetExitCodeProcess", 2}, {"GetNumberOfConsoleInputEvents", 2},
    {"GetProcAddress", 2}, {"IsBadWritePtr", 2, Z}, {"IsValidLocale", 2, Z}, {"LocalAlloc", 2},
    {"MoveFileA", 2}, {"SetConsoleCtrlHandler", 2}, {"SetConsoleCursorInfo", 2},
    {"SetConsoleCursorPosition", 2}, {"SetConsoleMode", 2}, {"SetConsoleScreenBufferSize", 2},
    {"SetEnvironmentVariableA", 2}, {"SetFileAttributesA", 2}, {"SetStdHandle", 2},
    {"SetThreadPriority", 2}, {"TerminateProcess", 2}, {"TlsSetValue", 2},
    {"WaitForSingleObject", 2},
    // 3 arguments: 9 rows
    {"FileTimeToDosDateTime", 3}, {"GetEnvironmentVariableA", 3}, {"GetModuleFileNameA", 3},
    {"HeapAlloc", 3}, {"HeapCreate", 3}, {"HeapFree", 3}, {"HeapSize", 3},
    {"SetConsoleWindowInfo", 3}, {"VirtualFree", 3},
    // 4 arguments: 10 rows
    {"GetFullPathNameA", 4}, {"GetLocaleInfoA", 4, Z}, {"GetLocaleInfoW", 4, Z},
    {"GetStringTypeW", 4, Z}, {"HeapReAlloc", 4}, {"PeekConsoleInputA", 4}, {"RaiseException", 4},
    {"ReadConsoleInputA", 4}, {"SetFilePointer", 4}, {"VirtualAlloc", 4},
    // 5 arguments: 10 rows
    {"FillConsoleOutputAttribute", 5}, {"FillConsoleOutputCharacterA", 5},
    {"GetDiskFreeSpaceA", 5}, {"GetStringTypeA", 5, Z}, {"LockFile", 5}, {"ReadFile", 5},
    {"ScrollConsoleScreenBufferA", 5}, {"WriteConsoleOutputA", 5}, {"WriteFile", 5},
    {"UnlockFile", 5},
    // 6 arguments: 5 rows
    {"CompareStringA", 6, Z}, {"CompareStringW", 6, Z}, {"CreateFileMappingA", 6},
    {"CreateThread", 6}, {"MultiByteToWideChar", 6},
    // 7 arguments: 2 rows
    {"CreateFileA", 7}, {"DuplicateHandle", 7},
    // 8 arguments: 2 rows
    {"GetVolumeInformationA", 8}, {"WideCharToMultiByte", 8},
    // 10 arguments: 1 row
    {"CreateProcessA", 10},
}};

// Rows per argument count, 0 to 10.
constexpr std::array<unsigned, 11> kGuardRowsByArguments = {14, 46, 30, 9, 10, 10, 5, 2, 2, 0, 1};
constexpr unsigned kZundaGuards = 20;

// The last row: InstallApiGuards hands its import slot to host service 52005.
constexpr std::string_view kCreateProcess = "CreateProcessA";
constexpr uint32_t kCreateProcessEntry = 52005;

// Regular kernel imports that stay unguarded.
constexpr std::array<std::string_view, 4> kUnguarded = {"lstrcmpA", "lstrcmpiA", "lstrcpyA",
                                                        "RtlUnwind"};

// --- Imports -------------------------------------------------------------------

constexpr std::string_view kKernel = "KERNEL32.dll";
constexpr std::string_view kPakto = "PAKTO.dll";
// The regular imports: the guarded kernel functions that are not taken from
// ZUNDA.dll, the unguarded ones, and from PAKTO.dll only this one.
constexpr std::string_view kPaktoFunction = "InterlockedExchange";
constexpr unsigned kKernelImports = kGuards - kZundaGuards + kUnguarded.size();

// --- Delay imports ---------------------------------------------------------------

constexpr std::string_view kZunda = "ZUNDA.dll";
constexpr std::string_view kUser32 = "USER32.dll";

constexpr std::array<std::string_view, 60> kZundaFunctions = {
    "lstrlenW",
    "ExitThread",
    "GetUserDefaultLCID",
    "GetLocaleInfoA",
    "GetLocaleInfoW",
    "IsValidCodePage",
    "IsValidLocale",
    "EnumSystemLocalesA",
    "GetVersionExA",
    "LCMapStringA",
    "LCMapStringW",
    "CompareStringA",
    "CompareStringW",
    "GetCPInfo",
    "FreeEnvironmentStringsA",
    "FreeEnvironmentStringsW",
    "GetEnvironmentStringsW",
    "GetStringTypeA",
    "GetStringTypeW",
    "InterlockedIncrement",
    "InterlockedDecrement",
    "IsBadCodePtr",
    "IsBadWritePtr",
    "IsBadReadPtr",
    "FatalAppExitA",
    "HeapValidate",
    "DisableThreadLibraryCalls",
    "SetErrorMode",
    "QueryPerformanceFrequency",
    "QueryPerformanceCounter",
    "BuildCommDCBAndTimeoutsA",
    "PurgeComm",
    "SetCommState",
    "SetCommMask",
    "SetupComm",
    "SetCommTimeouts",
    "GetCommModemStatus",
    "EscapeCommFunction",
    "CreateEventA",
    "SetEvent",
    "ResetEvent",
    "GetOverlappedResult",
    "GetShortPathNameA",
    "GetComputerNameA",
    "SearchPathA",
    "PeekNamedPipe",
    "TransmitCommChar",
    "TryEnterCriticalSection",
    "GetConsoleWindow",
    "GetSystemTimeAsFileTime",
    "FlushInstructionCache",
    "AreFileApisANSI",
    "GetCommTimeouts",
    "GetCommState",
    "GetSystemPowerStatus",
    "OpenFileMappingA",
    "OpenProcess",
    "FindFirstChangeNotificationA",
    "FindNextChangeNotification",
    "ConvertDefaultLocale",
};

constexpr std::array<std::string_view, 2> kUser32Functions = {"wsprintfA", "MessageBoxA"};

// Two descriptors and the zero one that ends them, 32 bytes each.
constexpr uint32_t kDelayDirectoryBytes = 3 * 32;

// --- The two statements of each list agree ------------------------------------

namespace consistency {

constexpr bool RunsAgree()
{
    unsigned total = 0;
    for (const Run &r : kRuns) {
        unsigned twins = 0;
        for (uint32_t t : kTwins)
            twins += t >= r.first && t <= r.last;
        if (r.last < r.first || r.last - r.first + 1 + twins != r.entries)
            return false;
        total += r.entries;
    }
    for (size_t i = 1; i < kRuns.size(); ++i)
        if (kRuns[i].first <= kRuns[i - 1].last + 1)
            return false; // runs apart from one another
    return total == kConsecutiveEntries;
}
static_assert(RunsAgree(), "the runs, their counts and the twins disagree");
static_assert(kConsecutiveEntries + kHundredEntries == kEntries);
static_assert(kRuns.front().first == kLowestNumber && kRuns.back().last == kHighestNumber);

constexpr bool HundredsAgree()
{
    unsigned hundreds = 0;
    for (uint32_t h = 200; h < 600; ++h)
        hundreds += HasHundred(h);
    if (hundreds != kHundredEntries)
        return false;
    for (size_t i = 0; i < kHundredSeries.size(); ++i) {
        uint32_t n = kHundredSeries[i];
        if (!HasHundred(n / 100) || (i > 0 && n / 100 <= kHundredSeries[i - 1] / 100))
            return false; // one number in each hundred, ascending
    }
    for (const ArgumentBytes &a : kHundredArgumentBytes) {
        unsigned count = 0;
        for (uint32_t n : kHundredSeries)
            count += n % 100 == a.bytes;
        if (count != a.entries)
            return false;
    }
    unsigned counted = 0;
    for (const ArgumentBytes &a : kHundredArgumentBytes)
        counted += a.entries;
    return counted == kHundredEntries;
}
static_assert(HundredsAgree(), "the hundred series, its hundreds and its argument bytes disagree");

constexpr bool GuardsAgree()
{
    std::array<unsigned, 11> rows{};
    unsigned zunda = 0;
    for (size_t i = 0; i < kGuardTable.size(); ++i) {
        const Guard &g = kGuardTable[i];
        if (g.arguments >= rows.size() || (i > 0 && g.arguments < kGuardTable[i - 1].arguments))
            return false; // grouped by argument count, ascending
        ++rows[g.arguments];
        if (g.zunda) {
            ++zunda;
            bool listed = false;
            for (std::string_view f : kZundaFunctions)
                listed = listed || f == g.name;
            if (!listed)
                return false;
        }
    }
    return rows == kGuardRowsByArguments && zunda == kZundaGuards &&
           kGuardTable.back().name == kCreateProcess;
}
static_assert(GuardsAgree(), "the guard table, its groups and its ZUNDA.dll marks disagree");

} // namespace consistency

} // namespace image::expected
