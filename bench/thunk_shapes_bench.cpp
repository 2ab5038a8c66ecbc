// The cost of a bound entry thunk's extra jump on real hardware.
//
// binding_bench.exe measures the entry thunks themselves, but only under
// Wine; where Wine can run only in an emulator (as on the project's build
// machine, whose kernel runs no 32-bit code), its ratio is the emulator's:
// every indirect jump leaves a translated block there. This program times
// the same three shapes of call (thunk_shapes.S) natively, in 64-bit mode:
// one more instruction, jmp *slot, is all that a thunk adds to a call, in
// either mode. Best of 15 rounds of a million calls, three times over.
//   build/native/thunk_shapes_bench
#include <x86intrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

extern "C" int LoopThroughThunk(int calls);
extern "C" int LoopThroughImport(int calls);
extern "C" int LoopDirect(int calls);

namespace {

constexpr int kCalls = 1000000;
constexpr int kRounds = 15;

double TicksPerCall(int (*loop)(int))
{
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        uint64_t start = __rdtsc();
        int sum = loop(kCalls);
        uint64_t ticks = __rdtsc() - start;
        if (sum != static_cast<int>((static_cast<int64_t>(kCalls) * (kCalls + 3) / 2)))
            return -1; // a call went missing
        best = std::min(best, static_cast<double>(ticks) / kCalls);
    }
    return best;
}

} // namespace

int main()
{
    std::printf("time-stamp ticks per call, best of %d rounds of %d calls (64-bit mode)\n",
                kRounds, kCalls);
    double worst = 0;
    bool ok = true;
    for (int run = 1; run <= 3; ++run) {
        double thunk = TicksPerCall(LoopThroughThunk);
        double import = TicksPerCall(LoopThroughImport);
        double direct = TicksPerCall(LoopDirect);
        ok = ok && thunk > 0 && import > 0 && direct > 0;
        double ratio = thunk / import;
        worst = std::max(worst, ratio);
        std::printf("  run %d: thunk %6.2f  import %6.2f  direct %6.2f  thunk / import %.3f\n", run,
                    thunk, import, direct, ratio);
    }
    if (!ok) {
        std::printf("a loop lost calls\n");
        return 1;
    }
    std::printf("worst thunk / import = %.3f (goal at most 1.05): %s\n", worst,
                worst <= 1.05 ? "met" : "NOT met");
    return 0;
}
