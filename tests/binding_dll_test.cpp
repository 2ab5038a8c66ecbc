// The real Tolmar.dll in the stand-in host: its delay-import directory as
// the loader maps it, and the runtime's start binding its kernel functions
// through ZUNDA.dll.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/delay_load.h"
#include "host/stand_in_host.h"
#include "tests/pe_imports.h"

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
    static inline std::vector<std::string> boxes;
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
    static int WINAPI MessageBox(HWND, const char *text, const char *, UINT)
    {
        boxes.push_back(text);
        return IDOK;
    }
};

TEST_F(DelayImportsInTheDll, RuntimeStartAsksTheHostForWhatTheKernelLacks)
{
    using K = KernelWithoutCodePages;
    void **lookup = pe::FindImportSlot(h.module(), "KERNEL32.dll", "GetProcAddress");
    void **box = pe::FindDelayImportSlot(h.module(), "USER32.dll", "MessageBoxA");
    ASSERT_NE(lookup, nullptr);
    ASSERT_NE(box, nullptr);
    K::system = reinterpret_cast<decltype(K::system)>(*lookup);
    K::hostCalls = 0;
    K::boxes.clear();
    *lookup = reinterpret_cast<void *>(&K::GetProcAddress);
    *box = reinterpret_cast<void *>(&K::MessageBox); // no real box, whatever happens
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
    EXPECT_TRUE(K::boxes.empty());
    EXPECT_EQ(h.Stop(), 0);
    *lookup = reinterpret_cast<void *>(K::system);
}

} // namespace
