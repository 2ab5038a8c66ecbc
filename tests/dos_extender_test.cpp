// The real Tolmar.dll in the stand-in host as it runs under the 32-bit DOS
// extender: the plug-in's kernel imports bound to the extender's kernel
// emulation (host/dosx/dosx.h), which exports "Borland32", lacks functions
// and draws the message boxes; the host's executable and HostQuery serve
// what the kernel lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "binding/delay_load.h"
#include "host/dosx/dosx.h"
#include "host/stand_in_host.h"
#include "tests/pe_imports.h"
#include "tests/report_texts.h"
#include "tests/system_boxes.h"

namespace {

constexpr uint32_t kNoticeBox = 52023; // HostNoticeBox: the installation notice at start

std::vector<char> FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Count(const std::vector<std::string> &lines, const std::string &line)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

bool Has(const std::vector<std::string> &lines, const std::string &line)
{
    return Count(lines, line) > 0;
}

std::vector<std::string> ByName(const host::StandInHost &h)
{
    std::vector<std::string> out;
    for (const std::string &line : h.Queries())
        if (line.find('"') != std::string::npos)
            out.push_back(line);
    return out;
}

const DelayImportDescriptor &ZundaDescriptor(HMODULE module)
{
    auto base = reinterpret_cast<const uint8_t *>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    return *reinterpret_cast<const DelayImportDescriptor *>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress);
}

void *Zunda(HMODULE module, const char *function)
{
    void **cell = pe::FindDelayImportSlot(module, "ZUNDA.dll", function);
    return cell ? *cell : reinterpret_cast<void *>(-1);
}

void *Export(HMODULE module, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(module, name));
}

class DosExtender : public ::testing::Test {
protected:
    DosExtender() { h.loadOptions.dosExtender = true; }
    host::StandInHost h;
};

// The emulation on its own: the kernel's names give its module, a lacking
// function is not found, the others are the real kernel's.
TEST(DosKernelEmulation, AnswersTheKernelNamesAndLacksWhatItIsTold)
{
    HMODULE dosx = LoadLibraryA(kDosxLibrary);
    ASSERT_NE(dosx, nullptr);
    auto configure = reinterpret_cast<DosxConfigureFunction>(Export(dosx, "DosxConfigure"));
    auto moduleHandle = reinterpret_cast<HMODULE(WINAPI *)(const char *)>(
        Export(dosx, "GetModuleHandleA"));
    auto load = reinterpret_cast<HMODULE(WINAPI *)(const char *)>(Export(dosx, "LoadLibraryA"));
    auto lookup = reinterpret_cast<FARPROC(WINAPI *)(HMODULE, const char *)>(
        Export(dosx, "GetProcAddress"));
    ASSERT_TRUE(configure && moduleHandle && load && lookup);
    const DosxHost settings{"GetCPInfo\0IsValidLocale\0", nullptr, nullptr};
    configure(&settings);

    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    for (const char *name : {"kernel32.dll", "KERNEL32.dll", "Kernel32"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(moduleHandle(name), dosx);
        HMODULE loaded = load(name);
        EXPECT_EQ(loaded, dosx);
        FreeLibrary(loaded);
    }
    EXPECT_EQ(moduleHandle(nullptr), GetModuleHandleA(nullptr));
    EXPECT_NE(lookup(dosx, "Borland32"), nullptr);
    EXPECT_EQ(lookup(dosx, "GetCPInfo"), nullptr);
    EXPECT_EQ(lookup(dosx, "IsValidLocale"), nullptr);
    EXPECT_EQ(lookup(kernel, "GetCPInfo"), GetProcAddress(kernel, "GetCPInfo"))
        << "only its own module lacks them";
    EXPECT_EQ(lookup(dosx, "GetACP"), GetProcAddress(kernel, "GetACP"));
    EXPECT_EQ(lookup(dosx, "GetStringTypeW"), GetProcAddress(kernel, "GetStringTypeW"));
    EXPECT_EQ(GetProcAddress(kernel, "Borland32"), nullptr) << "Wine's kernel has no such export";

    configure(nullptr);
    EXPECT_EQ(lookup(dosx, "GetCPInfo"), GetProcAddress(kernel, "GetCPInfo"));
    FreeLibrary(dosx);
}

// The host loads a copy whose only change is the import entry's name; the
// loader binds the kernel imports to the emulation.
TEST_F(DosExtender, TheDllIsLoadedBoundToTheEmulation)
{
    ASSERT_TRUE(h.Load());
    ASSERT_NE(h.dosExtender(), nullptr);
    ASSERT_NE(h.loadedFile(), h.pluginFile());

    std::vector<char> original = FileBytes(h.pluginFile()), copy = FileBytes(h.loadedFile());
    ASSERT_EQ(copy.size(), original.size());
    auto first = std::mismatch(original.begin(), original.end(), copy.begin()).first;
    ASSERT_NE(first, original.end());
    size_t at = first - original.begin();
    EXPECT_EQ(std::string(&original[at], 12), "KERNEL32.dll");
    EXPECT_EQ(std::string(&copy[at], 12), "DOSXKERN.dll");
    EXPECT_TRUE(std::equal(original.begin() + at + 12, original.end(), copy.begin() + at + 12))
        << "nothing else differs";

    std::vector<std::string> libraries;
    for (const pe::Import &i : pe::ListImports(h.module()))
        if (!i.delayed && std::find(libraries.begin(), libraries.end(), i.library) == libraries.end())
            libraries.push_back(i.library);
    EXPECT_EQ(libraries, (std::vector<std::string>{"DOSXKERN.dll", "PAKTO.dll"}));
    // Passed straight through to the real kernel (lstrcpyA has no guard).
    void **copyString = pe::FindImportSlot(h.module(), "DOSXKERN.dll", "lstrcpyA");
    ASSERT_NE(copyString, nullptr);
    EXPECT_EQ(*copyString, Export(GetModuleHandleA("kernel32.dll"), "lstrcpyA"));

    // The probe at process attach asked the emulation.
    EXPECT_TRUE(Has(h.kernelCalls, "GetModuleHandleA(\"kernel32.dll\") -> kernel"));
    EXPECT_TRUE(Has(h.kernelCalls, "GetProcAddress(kernel, \"Borland32\") -> found"));
    EXPECT_TRUE(Has(h.kernelCalls, "GetModuleHandleA(\"Kernel32\") -> kernel"));
    EXPECT_TRUE(Has(h.kernelCalls, "GetProcAddress(kernel, \"DisableThreadLibraryCalls\") -> found"));

    std::string copyFile = h.loadedFile();
    h.Unload();
    EXPECT_EQ(GetFileAttributesA(copyFile.c_str()), INVALID_FILE_ATTRIBUTES) << "copy removed";
}

// EnvKind 2, UnderWindows 0, seen through the report of a missing entry:
// composed with its highlight bytes, shown in Mazovia by the extender's
// MessageBoxA, and HostConvertText is not even asked for.
TEST_F(DosExtender, ProbeFindsBorland32AndTheReportStaysMazovia)
{
    ASSERT_TRUE(h.Load());
    h.LackEntry(kNoticeBox);
    h.systemBoxAnswers = {IDIGNORE};
    ASSERT_EQ(h.Start(nullptr), 0);
    ASSERT_EQ(h.systemBoxes.size(), 1u);
    const host::SystemBox &box = h.systemBoxes[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, report::MissingEntry(report::ProgramPath(), "52023"));
    EXPECT_EQ(box.caption, report::kCaption);
    EXPECT_EQ(box.style, 0x2012u);
    EXPECT_EQ(h.QueryCount(52158), 0);
    for (const std::string &line : h.trace)
        EXPECT_EQ(line.find("ConvertText"), std::string::npos) << line;
    EXPECT_TRUE(h.notices.empty()) << "ignored: the notice's fallback returned 0";
    EXPECT_EQ(h.Stop(), 0);
}

// The same missing entry under Windows, for contrast: the highlight bytes
// become spaces and the report asks for HostConvertText, which this host
// lacks too, so its own report comes first.
TEST(UnderWindows, TheSameReportIsSpacedForTheSystemBox)
{
    host::StandInHost h;
    h.loadOptions.dosExtender = false;
    ASSERT_TRUE(h.Load());
    ASSERT_EQ(h.dosExtender(), nullptr);
    ASSERT_TRUE(AnswerSystemBoxesFromTheHost(h));
    h.systemBoxAnswers = {IDIGNORE, IDIGNORE};
    h.LackEntry(kNoticeBox);
    ASSERT_EQ(h.Start(nullptr), 0);
    ASSERT_EQ(h.systemBoxes.size(), 2u);
    const std::string path = report::ProgramPath();
    EXPECT_EQ(h.systemBoxes[0].text, report::Spaced(report::MissingEntry(path, "52158")));
    EXPECT_EQ(h.systemBoxes[1].text, report::Spaced(report::MissingEntry(path, "52023")));
    EXPECT_EQ(h.QueryCount(52158), 1);
    EXPECT_EQ(h.Stop(), 0);
}

// Retry shows the same report again and Ignore leaves the fallback, as
// under Windows. The first report of the load binds MessageBoxA once: the
// boxes after each Retry call the bound function, without another lookup.
TEST_F(DosExtender, RetryRetryIgnore)
{
    ASSERT_TRUE(h.Load());
    h.LackEntry(kNoticeBox);
    h.systemBoxAnswers = {IDRETRY, IDRETRY, IDIGNORE};
    ASSERT_EQ(h.Start(nullptr), 0);
    ASSERT_EQ(h.systemBoxes.size(), 3u);
    for (const host::SystemBox &b : h.systemBoxes)
        EXPECT_EQ(b.text, report::MissingEntry(report::ProgramPath(), "52023"));
    EXPECT_EQ(h.QueryCount(kNoticeBox), 1);
    EXPECT_EQ(Count(h.kernelCalls, "LoadLibraryA(\"USER32.dll\") -> kernel"), 1);
    EXPECT_EQ(Count(h.kernelCalls, "GetProcAddress(kernel, \"MessageBoxA\") -> found"), 1);

    // A second start calls the notice again: the fallback, no box, no lookup.
    ASSERT_EQ(h.Start(nullptr), 0);
    EXPECT_EQ(h.systemBoxes.size(), 3u);
    EXPECT_EQ(h.QueryCount(kNoticeBox), 1);
    EXPECT_TRUE(h.notices.empty());
    EXPECT_EQ(h.Stop(), 0);
}

BOOL WINAPI OtherGetCPInfo(UINT, CPINFO *) { return FALSE; }

// The runtime's start binds its kernel functions through ZUNDA.dll: what the
// kernel has from the kernel, GetCPInfo (lacking) from the host's
// executable although HostQuery would offer it too, the environment block's
// two (lacking, not exported) from HostQuery by name.
TEST_F(DosExtender, RuntimeStartTakesWhatTheKernelLacksFromTheHost)
{
    ASSERT_TRUE(h.Load());
    h.OfferProcedure("GetCPInfo", reinterpret_cast<void *>(&OtherGetCPInfo));
    ASSERT_EQ(h.Start(nullptr), 0);

    EXPECT_EQ(*ZundaDescriptor(h.module()).moduleCell, h.dosExtender());
    HMODULE program = GetModuleHandleA(nullptr);
    EXPECT_NE(Export(program, "GetCPInfo"), nullptr);
    EXPECT_EQ(Zunda(h.module(), "GetCPInfo"), Export(program, "GetCPInfo"));
    EXPECT_EQ(Zunda(h.module(), "GetEnvironmentStringsW"),
              host::HostProcedures()["GetEnvironmentStringsW"]);
    EXPECT_EQ(Zunda(h.module(), "FreeEnvironmentStringsW"),
              host::HostProcedures()["FreeEnvironmentStringsW"]);
    EXPECT_EQ(Zunda(h.module(), "GetVersionExA"),
              Export(GetModuleHandleA("kernel32.dll"), "GetVersionExA"));

    EXPECT_EQ(ByName(h), (std::vector<std::string>{"HostQuery(2, \"GetEnvironmentStringsW\")",
                                                   "HostQuery(2, \"FreeEnvironmentStringsW\")"}));
    EXPECT_TRUE(Has(h.trace, "HostExe.GetCPInfo(0)"));
    EXPECT_TRUE(Has(h.trace, "Host.GetEnvironmentStringsW()"));
    EXPECT_TRUE(Has(h.trace, "Host.FreeEnvironmentStringsW()"));

    // GetCPInfo: the kernel first, then the host's executable.
    auto at = std::find(h.kernelCalls.begin(), h.kernelCalls.end(),
                        "GetProcAddress(kernel, \"GetCPInfo\") -> null");
    ASSERT_NE(at, h.kernelCalls.end());
    ASSERT_GE(h.kernelCalls.end() - at, 3);
    EXPECT_EQ(at[1], "GetModuleHandleA(null) -> host");
    EXPECT_EQ(at[2], "GetProcAddress(host, \"GetCPInfo\") -> found");
    EXPECT_TRUE(h.systemBoxes.empty());
    EXPECT_EQ(h.Stop(), 0);
}

// A function that the kernel, the host's executable and HostQuery all lack:
// the message names it, and the delay-load exception reaches its caller,
// the runtime's start. The handler here stands for the caller's: it lets
// the call fail (FALSE) and the start go on.
struct Raised {
    static inline std::vector<std::string> seen;
    static inline int fallbackCalls;
    static BOOL WINAPI NoVersion(OSVERSIONINFOA *)
    {
        ++fallbackCalls;
        return FALSE;
    }
    static LONG CALLBACK Handler(EXCEPTION_POINTERS *p)
    {
        EXCEPTION_RECORD *r = p->ExceptionRecord;
        if (r->ExceptionCode != kDelayLoadProcNotFound || r->NumberParameters != 1)
            return EXCEPTION_CONTINUE_SEARCH;
        auto *info = reinterpret_cast<DelayLoadInfo *>(r->ExceptionInformation[0]);
        seen.push_back(std::string(info->libraryName) + "!" + info->proc.name);
        info->currentFunction = reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&NoVersion));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
};

TEST_F(DosExtender, AFunctionFoundNowhereIsReportedAndRaisedToItsCaller)
{
    h.loadOptions.kernelLacks.push_back("GetVersionExA");
    ASSERT_TRUE(h.Load());
    void *before = Zunda(h.module(), "GetVersionExA");
    Raised::seen.clear();
    Raised::fallbackCalls = 0;
    void *handler = AddVectoredExceptionHandler(1, &Raised::Handler);
    int32_t started = h.Start(nullptr);
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(started, 0);

    ASSERT_EQ(h.systemBoxes.size(), 1u);
    EXPECT_EQ(h.systemBoxes[0].text, "Nie znaleziono\nGetVersionExA\nfrom ZUNDA.dll");
    EXPECT_EQ(h.systemBoxes[0].caption, "Blad wtyczki");
    EXPECT_EQ(h.systemBoxes[0].style, 0x40u);
    EXPECT_EQ(Raised::seen, std::vector<std::string>{"ZUNDA.dll!GetVersionExA"});
    EXPECT_EQ(Raised::fallbackCalls, 1);
    EXPECT_EQ(Zunda(h.module(), "GetVersionExA"), before) << "left unbound";
    EXPECT_TRUE(Has(ByName(h), "HostQuery(2, \"GetVersionExA\")"));
    EXPECT_TRUE(Has(h.kernelCalls, "GetProcAddress(host, \"GetVersionExA\") -> null"));
    // The others of the start were bound as ever.
    EXPECT_EQ(Zunda(h.module(), "GetCPInfo"), Export(GetModuleHandleA(nullptr), "GetCPInfo"));
    EXPECT_EQ(h.Stop(), 0);
}

} // namespace
