// The real Tolmar.dll in the stand-in host: its delay-import directory as
// the loader maps it, the runtime's start binding its kernel functions
// through ZUNDA.dll, and host entries the host lacks, reported through the
// system's message box and answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "binding/delay_load.h"
#include "host/service_calls.h"
#include "host/stand_in_host.h"
#include "tests/dll_symbols.h"
#include "tests/guard_calls.h"
#include "tests/pe_imports.h"
#include "tests/report_texts.h"
#include "tests/service_arguments.h"
#include "tests/system_boxes.h"

namespace {

const DelayImportDescriptor *DelayDirectory(HMODULE module)
{
    auto base = reinterpret_cast<const uint8_t *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (!entry.VirtualAddress)
        return nullptr;
    return reinterpret_cast<const DelayImportDescriptor *>(base + entry.VirtualAddress);
}

bool InsideImage(HMODULE module, FARPROC address)
{
    auto base = reinterpret_cast<uintptr_t>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    auto a = reinterpret_cast<uintptr_t>(address);
    return a >= base && a < base + nt->OptionalHeader.SizeOfImage;
}

// The cell of a function, found by its name in the descriptor's name table.
FARPROC *CellOf(const DelayImportDescriptor &d, const char *function)
{
    for (int i = 0; d.nameTable[i]; ++i)
        if (std::string(reinterpret_cast<const char *>(d.nameTable[i]) + 2) == function)
            return &d.addressTable[i];
    return nullptr;
}

class DelayImportsInTheDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(h.Load());
        directory = DelayDirectory(h.module());
        ASSERT_NE(directory, nullptr);
    }
    host::StandInHost h;
    const DelayImportDescriptor *directory = nullptr;
};

TEST_F(DelayImportsInTheDll, NothingIsBoundAtLoad)
{
    const char *libraries[] = {"ZUNDA.dll", "USER32.dll"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(libraries[i]);
        const DelayImportDescriptor &d = directory[i];
        EXPECT_EQ(d.attributes, 0u);
        EXPECT_STREQ(d.libraryName, libraries[i]);
        EXPECT_EQ(*d.moduleCell, nullptr);
        int count = 0;
        for (; d.nameTable[count]; ++count)
            EXPECT_TRUE(InsideImage(h.module(), d.addressTable[count])) << count;
        EXPECT_EQ(count, i == 0 ? 60 : 2);
    }
    EXPECT_EQ(directory[2].libraryName, nullptr);
}

TEST_F(DelayImportsInTheDll, RuntimeStartTakesTheKernelForZunda)
{
    ASSERT_EQ(h.Start(nullptr), 0);
    const DelayImportDescriptor &zunda = directory[0];
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(*zunda.moduleCell, kernel);
    for (const char *name :
         {"GetVersionExA", "GetEnvironmentStringsW", "FreeEnvironmentStringsW", "GetCPInfo"}) {
        SCOPED_TRACE(name);
        FARPROC *cell = CellOf(zunda, name);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(*cell, GetProcAddress(kernel, name));
    }
    // The kernel had them all: the host was asked for none by name.
    for (const std::string &line : h.Queries())
        EXPECT_EQ(line.find('"'), std::string::npos) << line;
    EXPECT_EQ(h.Stop(), 0);
}

// A kernel that lacks GetCPInfo, as the DOS extender's may: the plug-in's
// GetProcAddress finds it neither in the kernel library nor in the host's
// executable, and the host offers its own by name.
struct KernelWithoutCodePages {
    static inline FARPROC(WINAPI *system)(HMODULE, const char *);
    static inline int hostCalls;
    static FARPROC WINAPI GetProcAddress(HMODULE module, const char *name)
    {
        if (reinterpret_cast<uintptr_t>(name) > 0xFFFF && std::string(name) == "GetCPInfo")
            return nullptr;
        return system(module, name);
    }
    static BOOL WINAPI HostGetCPInfo(UINT codePage, CPINFO *info)
    {
        ++hostCalls;
        return ::GetCPInfo(codePage, info);
    }
};

TEST_F(DelayImportsInTheDll, RuntimeStartAsksTheHostForWhatTheKernelLacks)
{
    using K = KernelWithoutCodePages;
    void **lookup = pe::FindImportSlot(h.module(), "KERNEL32.dll", "GetProcAddress");
    ASSERT_NE(lookup, nullptr);
    ASSERT_TRUE(AnswerSystemBoxesFromTheHost(h)); // no real box, whatever happens
    K::system = reinterpret_cast<decltype(K::system)>(*lookup);
    K::hostCalls = 0;
    *lookup = reinterpret_cast<void *>(&K::GetProcAddress);
    h.OfferProcedure("GetCPInfo", reinterpret_cast<void *>(&K::HostGetCPInfo));

    ASSERT_EQ(h.Start(nullptr), 0);
    FARPROC *cell = CellOf(directory[0], "GetCPInfo");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(*cell), reinterpret_cast<void *>(&K::HostGetCPInfo));
    EXPECT_GE(K::hostCalls, 1) << "the runtime's start calls it";
    std::vector<std::string> byName;
    for (const std::string &line : h.Queries())
        if (line.find('"') != std::string::npos)
            byName.push_back(line);
    EXPECT_EQ(byName, std::vector<std::string>{"HostQuery(2, \"GetCPInfo\")"});
    // The other functions of the start still come from the kernel.
    EXPECT_EQ(*CellOf(directory[0], "GetVersionExA"),
              ::GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetVersionExA"));
    EXPECT_TRUE(h.systemBoxes.empty());
    EXPECT_EQ(h.Stop(), 0);
    *lookup = reinterpret_cast<void *>(K::system);
}

// ---------------------------------------------------------------------------
// Host entries the host lacks, under Windows: each is reported through the
// system's MessageBoxA (its delay-load cell answered here by a script) with
// Abort, Retry and Ignore; Ignore leaves a stub in the entry's slot.

// The program's path as GetModuleFileNameA gives it to the plug-in.
struct ScriptedPath {
    static inline std::string path;
    static DWORD WINAPI Get(HMODULE, char *buffer, DWORD size)
    {
        if (size == 0)
            return 0;
        DWORD n = static_cast<DWORD>(std::min<size_t>(path.size(), size - 1));
        std::memcpy(buffer, path.data(), n);
        buffer[n] = '\0';
        return n;
    }
};

// Loads the DLL under Windows (the system's box, not the DOS extender's)
// with its MessageBoxA answered by the host's script.
void LoadWithScriptedBox(host::StandInHost &h)
{
    h.loadOptions.dosExtender = false;
    ASSERT_TRUE(h.Load());
    ASSERT_TRUE(AnswerSystemBoxesFromTheHost(h));
}

constexpr uint32_t kGetTable = 52256, kProfile = 52225, kConverter = 52158;

TEST(MissingEntries, AtStartTheReportFollowsTheAnswer)
{
    const std::string longPath = "C:\\" + std::string(279, 'D') + "\\PROGRAM\\HOST.EXE";
    ASSERT_EQ(longPath.size(), 299u);
    struct Case {
        const char *name;
        std::vector<uint32_t> lacks;
        bool converter; // the host offers HostConvertText
        std::deque<int> answers;
        std::string path; // empty: the program's own
        int32_t started;
        std::vector<uint32_t> reports; // entries reported, in order
        size_t notices;
    };
    const Case cases[] = {
        {"HostGetTable, Ignore: the stub answers 0, the start is refused", {kGetTable}, true,
         {IDIGNORE}, "", -1, {kGetTable}, 0},
        {"Retry shows the report again until Ignore", {kGetTable}, true,
         {IDRETRY, IDRETRY, IDIGNORE}, "", -1, {kGetTable, kGetTable, kGetTable}, 0},
        {"the converter missing too: its own report first, both unconverted", {kGetTable}, false,
         {IDIGNORE, IDIGNORE}, "", -1, {kConverter, kGetTable}, 0},
        {"HostProfile, Ignore: read as 0, so the notice shows; the start goes on", {kProfile},
         true, {IDIGNORE}, "", 0, {kProfile}, 1},
        {"a long program path: \"...\" and its tail", {kGetTable}, true, {IDIGNORE}, longPath, -1,
         {kGetTable}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host::StandInHost h;
        ASSERT_NO_FATAL_FAILURE(LoadWithScriptedBox(h));
        h.profile["Tolmar/Pytaj"] = "1";
        for (uint32_t number : c.lacks)
            h.LackEntry(number);
        if (c.converter)
            h.OfferEntry(kConverter);
        h.systemBoxAnswers = c.answers;
        void **pathSlot = pe::FindImportSlot(h.module(), "KERNEL32.dll", "GetModuleFileNameA");
        ASSERT_NE(pathSlot, nullptr);
        void *pathHeld = *pathSlot;
        ScriptedPath::path = c.path;
        if (!c.path.empty())
            *pathSlot = reinterpret_cast<void *>(&ScriptedPath::Get);
        int32_t started = h.Start(nullptr);
        *pathSlot = pathHeld;

        EXPECT_EQ(started, c.started);
        std::string shownPath =
            c.path.empty() ? report::ProgramPath() : "..." + c.path.substr(c.path.size() - 284);
        std::vector<host::SystemBox> expected;
        for (uint32_t number : c.reports) {
            std::string text =
                report::Spaced(report::MissingEntry(shownPath, std::to_string(number)));
            expected.push_back({nullptr, c.converter ? report::InCodePage1250(text) : text,
                                c.converter ? report::InCodePage1250(report::kCaption)
                                            : report::kCaption,
                                0x2012u});
        }
        EXPECT_EQ(h.systemBoxes, expected);
        EXPECT_TRUE(h.systemBoxAnswers.empty()) << "every answer used";
        for (uint32_t number : c.lacks)
            EXPECT_EQ(h.QueryCount(number), 1) << number;
        EXPECT_EQ(h.notices.size(), c.notices);
        if (c.started != 0) {
            EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler) << "not hooked";
        }
        EXPECT_EQ(h.Stop(), 0);
    }
}

// Every host service the plug-in declares, lacking and ignored: the stub
// its entry gets removes what the service would remove of the caller's
// arguments and answers 0 (tests/service_arguments.h). HostCreateProcess
// gets none: its entry stays empty and its call faults, never pretending to
// have started a process.
TEST(MissingEntries, IgnoredEntriesGetStubsThatRemoveTheServicesArguments)
{
    host::StandInHost h;
    ASSERT_NO_FATAL_FAILURE(LoadWithScriptedBox(h));
    const auto &cases = kServiceArguments;
    constexpr uint32_t kScaleAmount = 52179, kCreateProcess = 52005;
    for (const ServiceArguments &c : cases)
        h.LackEntry(c.number);
    h.LackEntry(kScaleAmount);
    h.LackEntry(kCreateProcess);
    h.profile["Tolmar/Pytaj"] = "1";
    h.systemBoxAnswers.assign(3 * std::size(cases), IDIGNORE);
    h.Start(nullptr); // refused: HostGetTable is lacking too
    dll::Symbols symbols(h.module());
    auto entry = [&](uint32_t number) { return symbols.At("_HostEntry_" + std::to_string(number)); };

    const uint32_t args[12] = {0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u,
                               0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u,
                               0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u, 0xA5A5A5A5u};
    for (const ServiceArguments &c : cases) {
        SCOPED_TRACE(c.number);
        for (int call = 0; call < 2; ++call) {
            Registers regs{0xEAEA0001, 0xC1C10002, 0xD1D10003, 0xB1B10004, 0x51510005,
                           0xD1D10006, 0xBBBB0007, 0};
            ASSERT_EQ(CallWithRegisters(entry(c.number), args, c.words, &regs), 0);
            EXPECT_EQ(regs.eax, 0u);
            EXPECT_EQ(regs.stackDelta, c.calleeCleans ? 0 : -4 * static_cast<int32_t>(c.words));
            EXPECT_EQ(regs.ebx, 0xB1B10004u);
            EXPECT_EQ(regs.esi, 0x51510005u);
            EXPECT_EQ(regs.edi, 0xD1D10006u);
            EXPECT_EQ(regs.ebp, 0xBBBB0007u);
        }
        EXPECT_EQ(h.QueryCount(c.number), 1);
    }

    // HostScaleAmount: a double and a 32-bit value removed, 0.0 pushed on
    // the x87 stack where the caller takes its result.
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE("HostScaleAmount");
        const uint32_t scaleArgs[3] = {0, 0x40290000u, 100}; // 12.5, 100
        double result = 1.0;
        EXPECT_EQ(host::CheckedCallReal(entry(kScaleAmount), scaleArgs, 3, &result), 0);
        EXPECT_EQ(host::CheckedCallRemoved, sizeof scaleArgs);
        EXPECT_EQ(host::CheckedCallX87, 1u) << "one value pushed";
        EXPECT_EQ(result, 0.0);
    }

    // HostCreateProcess: Ignore leaves the entry empty.
    int faulted;
    {
        RecoverFromFaults recover;
        Registers regs{};
        faulted = CallWithRegisters(entry(kCreateProcess), args, 10, &regs);
    }
    EXPECT_EQ(faulted, 1);
    EXPECT_EQ(RecoverFromFaults::code, static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(h.QueryCount(kCreateProcess), 1);
    EXPECT_EQ(h.Stop(), 0);
}

} // namespace
