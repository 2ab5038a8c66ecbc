// Cycles per call through a bound host-entry thunk (call, then jmp *slot),
// through an ordinary import cell (call *cell) and directly, and the cost of
// an entry's first call (the binding). The binding layer's objects, those of
// the DLL, are linked in; a stand-in HostQuery serves one trivial service.
//   build/<dir>/bin/binding_bench.exe
// Goal: thunk / import at most 1.05. Under an emulator every indirect jump
// is costly and the ratio is the emulator's; thunk_shapes_bench times the
// same shapes of call on the real processor.
#include <windows.h>
#include <x86intrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "plugin/plugin.h"

extern "C" int32_t __stdcall ThroughThunk(int32_t) __asm__("_HostEntry_52256");
extern "C" void *EntrySlot __asm__("EntrySlot_52256");
extern "C" char FirstCall[] __asm__("FirstCall_52256");

// What the binding sources take from the plug-in frame.
HostQueryFunction HostQuery;
int32_t UnderWindows = 1;
char *CopyPluginTitle(char *buffer)
{
    std::memcpy(buffer, PluginTitle, sizeof PluginTitle);
    return buffer;
}
extern "C" LONG WINAPI BenchExchange(volatile LONG *target, LONG value)
{
    return InterlockedExchange(target, value);
}
extern "C" void *PaktoExchangeCell __asm__("__imp__PaktoInterlockedExchange@8");
void *PaktoExchangeCell = reinterpret_cast<void *>(&BenchExchange);

namespace {

// noipa: the compiler knows nothing of it, so every call stays a call.
extern "C" __attribute__((noipa)) int32_t __stdcall Service(int32_t value) { return value + 1; }

intptr_t __cdecl BenchHostQuery(int32_t, const void *)
{
    return reinterpret_cast<intptr_t>(&Service);
}

// An import cell as the loader fills it: the compiler calls through it with
// call *cell.
int32_t(__stdcall *volatile ImportCell)(int32_t) = &Service;

volatile int32_t resultSink;

constexpr int kCalls = 1000000;
constexpr int kRounds = 7;

template <typename Call>
double CyclesPerCall(Call call)
{
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        int32_t sink = 0;
        uint64_t start = __rdtsc();
        for (int i = 0; i < kCalls; ++i)
            sink += call(i);
        uint64_t cycles = __rdtsc() - start;
        resultSink = sink; // the sum is used, so the calls stay
        best = std::min(best, static_cast<double>(cycles) / kCalls);
    }
    return best;
}

double FirstCallCycles()
{
    constexpr int kBindings = 10000;
    uint64_t total = 0;
    for (int i = 0; i < kBindings; ++i) {
        EntrySlot = FirstCall; // unbound again
        uint64_t start = __rdtsc();
        ThroughThunk(i);
        total += __rdtsc() - start;
    }
    return static_cast<double>(total) / kBindings;
}

} // namespace

int main()
{
    HostQuery = BenchHostQuery;
    double first = FirstCallCycles();
    ThroughThunk(0); // bound from here on
    double thunk = CyclesPerCall([](int32_t v) { return ThroughThunk(v); });
    double import = CyclesPerCall([](int32_t v) { return ImportCell(v); });
    double direct = CyclesPerCall([](int32_t v) { return Service(v); });
    std::printf("cycles per call, best of %d rounds of %d calls\n", kRounds, kCalls);
    std::printf("  bound entry thunk    %8.2f\n", thunk);
    std::printf("  import cell          %8.2f\n", import);
    std::printf("  direct call          %8.2f\n", direct);
    std::printf("  first call (binding) %8.2f\n", first);
    double ratio = thunk / import;
    std::printf("thunk / import = %.3f (goal at most 1.05): %s\n", ratio,
                ratio <= 1.05 ? "met" : "NOT met");
    return 0;
}
