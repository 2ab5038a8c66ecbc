// Cost of a call through a system call guard against the same call without
// it, for functions of 0, 3 and 10 arguments that do nothing, and for
// GetLastError through Tolmar.dll's guarded import slot against the system's
// own. Cycles per call by the time-stamp counter, best of several runs.
#include <windows.h>
#include <x86intrin.h>

#include <cstdint>
#include <cstdio>

#include "tests/pe_imports.h"

extern "C" {
uint32_t __stdcall Nop0() __asm__("_Nop0");
uint32_t __stdcall Nop3(uint32_t, uint32_t, uint32_t) __asm__("_Nop3");
uint32_t __stdcall Nop10(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                         uint32_t, uint32_t, uint32_t) __asm__("_Nop10");
uint32_t __stdcall Guard0() __asm__("_Guard0");
uint32_t __stdcall Guard3(uint32_t, uint32_t, uint32_t) __asm__("_Guard3");
uint32_t __stdcall Guard10(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                           uint32_t, uint32_t, uint32_t) __asm__("_Guard10");
}

namespace {

constexpr int kCalls = 1000000;
constexpr int kRuns = 7;

// Called through a volatile pointer, so that every call is really made.
template <typename F, typename... A>
double CyclesPerCall(F function, A... args)
{
    F volatile target = function;
    uint64_t best = UINT64_MAX;
    for (int run = 0; run < kRuns; ++run) {
        uint64_t start = __rdtsc();
        for (int i = 0; i < kCalls; ++i)
            target(args...);
        uint64_t spent = __rdtsc() - start;
        if (spent < best)
            best = spent;
    }
    return static_cast<double>(best) / kCalls;
}

void Row(const char *what, double direct, double guarded)
{
    std::printf("%-34s %10.1f %10.1f %8.2f\n", what, direct, guarded, guarded / direct);
}

} // namespace

int main()
{
    std::printf("%-34s %10s %10s %8s\n", "cycles per call", "unguarded", "guarded", "ratio");
    Row("0 arguments", CyclesPerCall(&Nop0), CyclesPerCall(&Guard0));
    Row("3 arguments", CyclesPerCall(&Nop3, 1u, 2u, 3u), CyclesPerCall(&Guard3, 1u, 2u, 3u));
    Row("10 arguments", CyclesPerCall(&Nop10, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u),
        CyclesPerCall(&Guard10, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u));

    HMODULE tolmar = LoadLibraryA("Tolmar.dll");
    void **slot = tolmar ? pe::FindImportSlot(tolmar, "KERNEL32.dll", "GetLastError") : nullptr;
    if (!slot) {
        std::printf("GetLastError: Tolmar.dll not loaded, no figure\n");
        return 0;
    }
    using GetLastErrorFunction = DWORD(WINAPI *)();
    Row("GetLastError, Tolmar.dll's import", CyclesPerCall(&GetLastError),
        CyclesPerCall(reinterpret_cast<GetLastErrorFunction>(*slot)));
    FreeLibrary(tolmar);
    return 0;
}
