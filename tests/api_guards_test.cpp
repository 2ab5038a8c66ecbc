// The system call guards: the guard code itself over test functions, and the
// real DLL's import slots after its process attach, reached through the
// loaded image's import tables.
#include <gtest/gtest.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/dll_symbols.h"
#include "tests/guard_calls.h"
#include "tests/image/expected.h"
#include "tests/pe_imports.h"
#include "tests/system_boxes.h"

namespace {

namespace ex = image::expected;

// What every call starts with in the seven registers: none of it a plausible
// result or pointer.
constexpr Registers kLoaded = {0xEAEA0001, 0xC1C10002, 0xD1D10003, 0xB1B10004,
                               0x51510005, 0xD1D10006, 0xBBBB0007, 0};

// Everything but eax as the caller had it, and the stack as before the call.
void ExpectKept(const Registers &after)
{
    EXPECT_EQ(after.ecx, kLoaded.ecx);
    EXPECT_EQ(after.edx, kLoaded.edx);
    EXPECT_EQ(after.ebx, kLoaded.ebx);
    EXPECT_EQ(after.esi, kLoaded.esi);
    EXPECT_EQ(after.edi, kLoaded.edi);
    EXPECT_EQ(after.ebp, kLoaded.ebp);
    EXPECT_EQ(after.stackDelta, 0);
}

uint32_t Word(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void *SystemFunction(const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

// ---------------------------------------------------------------------------
// The guard macro over test functions of every argument count in use.

std::vector<uint32_t> seen; // the arguments the last fake received

template <size_t>
using Arg = uint32_t;

template <size_t... I>
uint32_t __stdcall Fake(Arg<I>... args)
{
    seen = {args...};
    return 0xC0DE0000u + sizeof...(I);
}

template <size_t... I>
void *FakeOf(std::index_sequence<I...>)
{
    return reinterpret_cast<void *>(&Fake<I...>);
}

template <size_t... N>
std::array<void *, sizeof...(N)> Fakes(std::index_sequence<N...>)
{
    return {FakeOf(std::make_index_sequence<N>{})...};
}

// fakes[n] takes n arguments and removes them.
const auto fakes = Fakes(std::make_index_sequence<11>{});

TEST(GuardCode, KeepsRegistersAndPassesArgumentsInOrder)
{
    for (uint32_t k = 0; k < TestGuardCount; ++k) {
        const TestGuard &g = TestGuards[k];
        SCOPED_TRACE(testing::Message() << g.args << " arguments");
        ASSERT_LT(g.args, fakes.size());
        std::vector<uint32_t> args;
        for (uint32_t i = 0; i < g.args; ++i)
            args.push_back(0xA0000000u + (g.args << 8) + i + 1);
        *g.row = reinterpret_cast<void *>(&ClobberOnReturn);
        FakeTarget = fakes[g.args];

        // Called directly, the stand-in leaves ecx and edx changed.
        seen.clear();
        Registers direct = kLoaded;
        ASSERT_EQ(CallWithRegisters(reinterpret_cast<void *>(&ClobberOnReturn), args.data(),
                                    g.args, &direct), 0);
        EXPECT_EQ(direct.ecx, ClobberedEcx);
        EXPECT_EQ(direct.edx, ClobberedEdx);
        EXPECT_EQ(seen, args);

        // Through its guard, only eax changes.
        seen.assign(1, 0xFFFFFFFFu);
        Registers regs = kLoaded;
        ASSERT_EQ(CallWithRegisters(g.guard, args.data(), g.args, &regs), 0);
        EXPECT_EQ(seen, args);
        EXPECT_EQ(regs.eax, 0xC0DE0000u + g.args);
        ExpectKept(regs);
    }
}

uint32_t __stdcall Other() { return 0x07E40000u; }

TEST(GuardCode, CallsWhatTheRowHoldsAtTheTime)
{
    const TestGuard &g = TestGuards[0];
    ASSERT_EQ(g.args, 0u);
    *g.row = fakes[0];
    Registers regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(g.guard, nullptr, 0, &regs), 0);
    EXPECT_EQ(regs.eax, 0xC0DE0000u);

    *g.row = reinterpret_cast<void *>(&Other);
    regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(g.guard, nullptr, 0, &regs), 0);
    EXPECT_EQ(regs.eax, 0x07E40000u);
    ExpectKept(regs);
}

// An exception thrown by the guarded function travels through the guard to
// the code that called it, which runs its destructors, for every argument
// count: the unwinder follows the guard's saved registers and copies.
struct CallFailure {};
void Throwing() { throw CallFailure{}; } // never returns: its convention does not matter

struct Counted {
    int &destroyed;
    ~Counted() { ++destroyed; }
};
using TenArguments = uint32_t(__stdcall *)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
__attribute__((noinline)) uint32_t CallGuardHolding(const void *guard, int &destroyed)
{
    Counted held{destroyed};
    return reinterpret_cast<TenArguments>(guard)(1, 2, 3, 4, 5, 6, 7, 8, 9, 10);
}

TEST(GuardCode, ExceptionFromTheFunctionReachesTheCaller)
{
    for (uint32_t i = 0; i < TestGuardCount; ++i) {
        const TestGuard &g = TestGuards[i];
        SCOPED_TRACE(testing::Message() << g.args << " arguments");
        *g.row = reinterpret_cast<void *>(&Throwing);
        int destroyed = 0;
        EXPECT_THROW(CallGuardHolding(g.guard, destroyed), CallFailure);
        EXPECT_EQ(destroyed, 1);
    }
}

// ---------------------------------------------------------------------------
// The real DLL.

class Guards : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(h.Load()); }
    void **KernelSlot(const char *function)
    {
        return pe::FindImportSlot(h.module(), "KERNEL32.dll", function);
    }
    // The guard table's 129 rows, in the loaded module.
    void **Rows(const dll::Symbols &symbols) { return symbols.At<void *>("_ApiGuardTable"); }
    host::StandInHost h;
};

// Every guarded function of the plug-in's list, in its order: its import
// slot (the kernel's, or for a function taken from ZUNDA.dll its delay-load
// cell) holds its guard, CreateProcessA's the entry thunk of host service
// 52005 instead; the guard's row holds what the loader had put in the slot.
TEST_F(Guards, EveryGuardedSlotHoldsItsGuardAndItsRowWhatTheSlotHeld)
{
    dll::Symbols symbols(h.module());
    EXPECT_EQ(*symbols.At<uint8_t>("_GuardsInstalled"), 1) << "GuardsInstalled";
    // Under the DOS extender the kernel import entry names its emulation.
    HMODULE kernel = h.dosExtender() ? h.dosExtender() : GetModuleHandleA("kernel32.dll");
    const char *kernelName = h.dosExtender() ? "DOSXKERN.dll" : "KERNEL32.dll";
    // What each ZUNDA.dll cell holds in the file: its binding stub.
    std::map<std::string, void *> zundaAtLoad;
    for (const image::DelayLibrary &library : symbols.file().DelayImports())
        if (library.name == "ZUNDA.dll")
            for (const image::DelayLibrary::Function &f : library.functions)
                zundaAtLoad[f.name] = symbols.Relocated(f.cellValue);
    ASSERT_FALSE(zundaAtLoad.empty());

    void **rows = Rows(symbols);
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        const ex::Guard &g = ex::kGuardTable[i];
        const std::string name(g.name);
        SCOPED_TRACE(testing::Message() << "row " << i << " " << name);
        void **slot = g.zunda ? pe::FindDelayImportSlot(h.module(), "ZUNDA.dll", name.c_str())
                              : pe::FindImportSlot(h.module(), kernelName, name.c_str());
        ASSERT_NE(slot, nullptr);
        void *guard = symbols.At("ApiGuard_" + name);
        EXPECT_TRUE(pe::InImage(h.module(), guard));
        if (name == ex::kCreateProcess)
            EXPECT_EQ(*slot, symbols.At("_HostEntry_" + std::to_string(ex::kCreateProcessEntry)));
        else
            EXPECT_EQ(*slot, guard);
        void *held = g.zunda ? zundaAtLoad[name]
                             : reinterpret_cast<void *>(GetProcAddress(kernel, name.c_str()));
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(rows[i], held);
    }
}

// Each of the 129 guards of the DLL, its row pointed at a stand-in of the
// argument count the list gives: the arguments arrive in order, the result
// comes back, and only eax changes.
TEST_F(Guards, EveryGuardPassesItsArgumentsAndKeepsTheRegisters)
{
    dll::Symbols symbols(h.module());
    void **rows = Rows(symbols);
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        const ex::Guard &g = ex::kGuardTable[i];
        const std::string name(g.name);
        SCOPED_TRACE(testing::Message() << "row " << i << " " << name << ", " << g.arguments
                                        << " arguments");
        ASSERT_LT(g.arguments, fakes.size());
        std::vector<uint32_t> args;
        for (uint32_t k = 0; k < g.arguments; ++k)
            args.push_back(0xA0000000u + (i << 8) + k + 1);
        void *held = rows[i];
        rows[i] = reinterpret_cast<void *>(&ClobberOnReturn);
        FakeTarget = fakes[g.arguments];
        seen.assign(1, 0xFFFFFFFFu);
        Registers regs = kLoaded;
        int faulted;
        {
            // A guard that removes other than its arguments returns astray.
            RecoverFromFaults recover;
            faulted = CallWithRegisters(symbols.At("ApiGuard_" + name), args.data(), g.arguments,
                                        &regs);
        }
        rows[i] = held;
        ASSERT_EQ(faulted, 0);
        EXPECT_EQ(seen, args);
        EXPECT_EQ(regs.eax, 0xC0DE0000u + g.arguments);
        ExpectKept(regs);
    }
}

TEST_F(Guards, GuardedSlotsHoldGuardsOthersTheSystemFunction)
{
    struct Case {
        const char *function;
        bool guarded;
    };
    const Case cases[] = {
        {"GetLastError", true},     {"SetLastError", true},        {"GetModuleHandleA", true},
        {"GetProcAddress", true},   {"LoadLibraryA", true},        {"GetVersion", true},
        {"HeapAlloc", true},        {"GetModuleFileNameA", true},  {"WideCharToMultiByte", true},
        {"lstrcmpA", false},        {"lstrcmpiA", false},          {"lstrcpyA", false},
        {"RtlUnwind", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        void **slot = KernelSlot(c.function);
        ASSERT_NE(slot, nullptr);
        if (c.guarded) {
            EXPECT_TRUE(pe::InImage(h.module(), *slot));
            EXPECT_NE(*slot, SystemFunction(c.function));
        } else {
            EXPECT_EQ(*slot, SystemFunction(c.function));
        }
    }
}

TEST_F(Guards, GetLastErrorKeepsEcxAndEdx)
{
    void **slot = KernelSlot("GetLastError");
    ASSERT_NE(slot, nullptr);
    Registers regs = kLoaded;
    SetLastError(0x2A2A2Au);
    ASSERT_EQ(CallWithRegisters(*slot, nullptr, 0, &regs), 0);
    EXPECT_EQ(regs.eax, 0x2A2A2Au);
    ExpectKept(regs);
}

TEST_F(Guards, RealFunctionsGiveTheirOwnResults)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    char pathA[300] = {}, pathB[300] = {};
    char *partA = nullptr, *partB = nullptr;
    wchar_t wideA[8] = {}, wideB[8] = {};
    char narrowA[8] = {}, narrowB[8] = {};
    struct Case {
        const char *function;
        std::vector<uint32_t> args;
        std::function<uint32_t()> direct;
        const void *out, *directOut; // compared when not null
        size_t outSize;
    };
    const Case cases[] = {
        {"GetVersion", {}, [] { return GetVersion(); }, nullptr, nullptr, 0},
        {"GetModuleHandleA", {Word("kernel32.dll")},
         [] { return Word(GetModuleHandleA("kernel32.dll")); }, nullptr, nullptr, 0},
        {"GetProcAddress", {Word(kernel), Word("GetLastError")},
         [&] { return Word(reinterpret_cast<void *>(GetProcAddress(kernel, "GetLastError"))); },
         nullptr, nullptr, 0},
        {"GetModuleFileNameA", {0, Word(pathA), 300},
         [&] { return static_cast<uint32_t>(GetModuleFileNameA(nullptr, pathB, 300)); }, pathA,
         pathB, sizeof pathA},
        {"GetFullPathNameA", {Word("guard.txt"), 300, Word(pathA), Word(&partA)},
         [&] { return static_cast<uint32_t>(GetFullPathNameA("guard.txt", 300, pathB, &partB)); },
         pathA, pathB, sizeof pathA},
        {"MultiByteToWideChar", {CP_ACP, 0, Word("abc"), 0xFFFFFFFFu, Word(wideA), 8},
         [&] { return static_cast<uint32_t>(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wideB, 8)); },
         wideA, wideB, sizeof wideA},
        {"WideCharToMultiByte", {CP_ACP, 0, Word(L"abc"), 0xFFFFFFFFu, Word(narrowA), 8, 0, 0},
         [&] {
             return static_cast<uint32_t>(
                 WideCharToMultiByte(CP_ACP, 0, L"abc", -1, narrowB, 8, nullptr, nullptr));
         },
         narrowA, narrowB, sizeof narrowA},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        void **slot = KernelSlot(c.function);
        ASSERT_NE(slot, nullptr);
        Registers regs = kLoaded;
        ASSERT_EQ(CallWithRegisters(*slot, c.args.data(), static_cast<uint32_t>(c.args.size()),
                                    &regs), 0);
        EXPECT_EQ(regs.eax, c.direct());
        ExpectKept(regs);
        if (c.out) {
            EXPECT_EQ(std::memcmp(c.out, c.directOut, c.outSize), 0);
        }
    }

    // SetLastError has no result: its effect is the test.
    void **set = KernelSlot("SetLastError");
    ASSERT_NE(set, nullptr);
    const uint32_t value[] = {0x1234};
    Registers regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(*set, value, 1, &regs), 0);
    EXPECT_EQ(GetLastError(), 0x1234u);
    ExpectKept(regs);
}

TEST_F(Guards, DelayLoadedFunctionPassesItsGuardOnlyOnce)
{
    void **cell = pe::FindDelayImportSlot(h.module(), "ZUNDA.dll", "GetCPInfo");
    ASSERT_NE(cell, nullptr);
    void *guard = *cell;
    EXPECT_TRUE(pe::InImage(h.module(), guard));

    CPINFO first{};
    const uint32_t firstArgs[] = {CP_ACP, Word(&first)};
    Registers regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(guard, firstArgs, 2, &regs), 0);
    EXPECT_EQ(regs.eax, 1u);
    ExpectKept(regs); // the guard ran
    EXPECT_GE(first.MaxCharSize, 1u);
    // Bound: the cell now holds the function, and the guard is out of the way.
    EXPECT_EQ(*cell, SystemFunction("GetCPInfo"));

    CPINFO second{};
    const uint32_t secondArgs[] = {CP_ACP, Word(&second)};
    regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(*cell, secondArgs, 2, &regs), 0);
    EXPECT_EQ(regs.eax, 1u);
    EXPECT_EQ(regs.stackDelta, 0);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
}

// The kernel as the delay-load binding meets it, each call written down:
// LoadLibraryA and GetProcAddress in the plug-in's import slots, and the
// GetCPInfo that GetProcAddress hands out.
struct RecordingKernel {
    static inline std::vector<std::string> calls;
    static inline HMODULE(WINAPI *load)(const char *);
    static inline FARPROC(WINAPI *lookup)(HMODULE, const char *);
    static HMODULE WINAPI Load(const char *name)
    {
        calls.push_back("LoadLibraryA(" + std::string(name) + ")");
        return load(name);
    }
    static FARPROC WINAPI Lookup(HMODULE module, const char *name)
    {
        bool kernel = module == GetModuleHandleA("kernel32.dll");
        calls.push_back("GetProcAddress(" + std::string(kernel ? "kernel" : "other") + ", " +
                        (reinterpret_cast<uintptr_t>(name) > 0xFFFF ? name : "#") + ")");
        if (kernel && reinterpret_cast<uintptr_t>(name) > 0xFFFF && std::string(name) == "GetCPInfo")
            return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&GetCPInfo));
        return lookup(module, name);
    }
    static BOOL WINAPI GetCPInfo(UINT codePage, CPINFO *info)
    {
        calls.push_back("GetCPInfo(" + image::Hex(codePage) + ", " + image::Hex(Word(info)) + ")");
        return ::GetCPInfo(codePage, info);
    }
};

// GetCPInfo's first call, through its guard: the kernel library loaded for
// ZUNDA.dll, the function looked up there, then called with the caller's
// arguments; the cell then holds the function, and the second call goes
// straight to it.
TEST_F(Guards, DelayLoadedFunctionIsBoundThroughTheKernelOnItsFirstCall)
{
    using K = RecordingKernel;
    void **cell = pe::FindDelayImportSlot(h.module(), "ZUNDA.dll", "GetCPInfo");
    void **load = KernelSlot("LoadLibraryA");
    void **lookup = KernelSlot("GetProcAddress");
    ASSERT_TRUE(cell && load && lookup);
    void *guard = *cell;
    K::load = reinterpret_cast<decltype(K::load)>(*load);
    K::lookup = reinterpret_cast<decltype(K::lookup)>(*lookup);
    *load = reinterpret_cast<void *>(&K::Load);
    *lookup = reinterpret_cast<void *>(&K::Lookup);
    K::calls.clear();

    CPINFO first{};
    const uint32_t firstArgs[] = {0x1B5, Word(&first)};
    Registers regs = kLoaded;
    int faulted = CallWithRegisters(guard, firstArgs, 2, &regs);
    std::vector<std::string> firstCalls = K::calls;
    K::calls.clear();
    CPINFO second{};
    const uint32_t secondArgs[] = {0x1B5, Word(&second)};
    Registers again = kLoaded;
    int faultedAgain = CallWithRegisters(*cell, secondArgs, 2, &again);
    *load = reinterpret_cast<void *>(K::load);
    *lookup = reinterpret_cast<void *>(K::lookup);

    ASSERT_EQ(faulted, 0);
    EXPECT_EQ(firstCalls, (std::vector<std::string>{
                              "LoadLibraryA(KERNEL32.dll)", "GetProcAddress(kernel, GetCPInfo)",
                              "GetCPInfo(0x1b5, " + image::Hex(Word(&first)) + ")"}));
    EXPECT_EQ(regs.eax, 1u);
    ExpectKept(regs);
    EXPECT_EQ(*cell, reinterpret_cast<void *>(&K::GetCPInfo));
    ASSERT_EQ(faultedAgain, 0);
    EXPECT_EQ(K::calls,
              std::vector<std::string>{"GetCPInfo(0x1b5, " + image::Hex(Word(&second)) + ")"});
    EXPECT_EQ(again.eax, 1u);
    EXPECT_EQ(again.stackDelta, 0);
}

TEST_F(Guards, SecondAttachWritesNothing)
{
    // Bind GetCPInfo, so that a second installation would put its guard back.
    void **cell = pe::FindDelayImportSlot(h.module(), "ZUNDA.dll", "GetCPInfo");
    ASSERT_NE(cell, nullptr);
    CPINFO info{};
    const uint32_t args[] = {CP_ACP, Word(&info)};
    Registers regs = kLoaded;
    ASSERT_EQ(CallWithRegisters(*cell, args, 2, &regs), 0);
    ASSERT_EQ(*cell, SystemFunction("GetCPInfo"));

    std::vector<pe::Import> imports = pe::ListImports(h.module());
    std::vector<void *> before;
    for (const pe::Import &i : imports)
        before.push_back(*i.slot);
    dll::Symbols symbols(h.module());
    void **rows = Rows(symbols);
    const std::vector<void *> rowsBefore(rows, rows + ex::kGuards);

    auto base = reinterpret_cast<uint8_t *>(h.module());
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS32 *>(
        base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    auto entry = reinterpret_cast<BOOL(WINAPI *)(HINSTANCE, DWORD, void *)>(
        base + nt->OptionalHeader.AddressOfEntryPoint);
    ASSERT_TRUE(entry(h.module(), DLL_PROCESS_ATTACH, nullptr));

    for (size_t k = 0; k < imports.size(); ++k) {
        SCOPED_TRACE(imports[k].library + "!" + imports[k].function);
        EXPECT_EQ(*imports[k].slot, before[k]);
    }
    EXPECT_EQ(std::vector<void *>(rows, rows + ex::kGuards), rowsBefore) << "the rows";
    EXPECT_EQ(*symbols.At<uint8_t>("_GuardsInstalled"), 1);
    // A guard whose row had been rewritten with the guard itself would
    // never return.
    void **slot = KernelSlot("GetLastError");
    ASSERT_NE(slot, nullptr);
    regs = kLoaded;
    SetLastError(77);
    ASSERT_EQ(CallWithRegisters(*slot, nullptr, 0, &regs), 0);
    EXPECT_EQ(regs.eax, 77u);
}

std::string CreateProcessLine(const uint32_t (&args)[10])
{
    std::string line = "HostCreateProcess(";
    for (uint32_t v : args) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08" PRIx32, v);
        line += (line.back() == '(' ? "" : ", ") + std::string(text);
    }
    return line + ")";
}

constexpr uint32_t kProcessArgs[10] = {0x0A000001, 0x0A000002, 0x0A000003, 0x0A000004, 1,
                                       0x0A000006, 0x0A000007, 0x0A000008, 0x0A000009, 0x0A00000A};

TEST_F(Guards, CreateProcessReachesTheHost)
{
    ASSERT_EQ(h.Start(nullptr), 0);
    void **slot = KernelSlot("CreateProcessA");
    ASSERT_NE(slot, nullptr);
    EXPECT_TRUE(pe::InImage(h.module(), *slot));
    EXPECT_NE(*slot, SystemFunction("CreateProcessA"));

    const std::string line = CreateProcessLine(kProcessArgs);
    h.trace.clear();
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE(call == 0 ? "first call" : "second call");
        Registers regs = kLoaded;
        ASSERT_EQ(CallWithRegisters(*slot, kProcessArgs, 10, &regs), 0);
        EXPECT_EQ(regs.eax, 1u);
        EXPECT_EQ(regs.stackDelta, 0); // the service removed its ten arguments
        EXPECT_EQ(regs.ebx, kLoaded.ebx);
        EXPECT_EQ(regs.esi, kLoaded.esi);
        EXPECT_EQ(regs.edi, kLoaded.edi);
        EXPECT_EQ(regs.ebp, kLoaded.ebp);
    }
    EXPECT_EQ(h.trace, (std::vector<std::string>{"HostQuery(2, 52005)", line, line}));
    EXPECT_EQ(h.Stop(), 0);
}

TEST_F(Guards, CreateProcessWithoutTheHostEntryIsReportedAs52005)
{
    h.LackEntry(52005);
    ASSERT_EQ(h.Start(nullptr), 0);
    ASSERT_TRUE(AnswerSystemBoxesFromTheHost(h));
    h.showSystemBox = [](const host::SystemBox &) { return IDABORT; };
    void **slot = KernelSlot("CreateProcessA");
    ASSERT_NE(slot, nullptr);

    h.systemBoxes.clear();
    h.trace.clear();
    int faulted;
    {
        RecoverFromFaults recover;
        Registers regs = kLoaded;
        faulted = CallWithRegisters(*slot, kProcessArgs, 10, &regs);
    }
    // Aborted: the entry is left empty, and the call does not come back as a
    // success.
    EXPECT_EQ(faulted, 1);
    ASSERT_FALSE(h.systemBoxes.empty());
    // The last box is this entry's (a missing text converter is reported
    // before it); the highlight bytes around the number became spaces.
    const host::SystemBox &report = h.systemBoxes.back();
    EXPECT_NE(report.text.find("brak wpisu  52005 \n"), std::string::npos) << report.text;
    EXPECT_EQ(report.style, 0x2012u);
    EXPECT_EQ(h.QueryCount(52005), 1);
    for (const std::string &line : h.trace)
        EXPECT_NE(line.rfind("HostCreateProcess(", 0), 0u) << line;
    EXPECT_EQ(h.Stop(), 0);
}

} // namespace
