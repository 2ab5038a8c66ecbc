// The delay-load binding routine and its redirection hook, on descriptors
// built by the tests (so that each binding starts fresh) and on the
// module's own ZUNDA.dll and USER32.dll cells.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/delay_load.h"
#include "host/stand_in_host.h"
#include "plugin/plugin.h"
#include "plugin/runtime/format.h"
#include "tests/binding_support.h"

// Exported by the test program, which stands for the host's executable
// here; the kernel library has no such function.
extern "C" __declspec(dllexport) int TolmarTestExport() { return 7; }

extern "C" HMODULE User32ModuleCell __asm__("User32ModuleCell");
extern "C" void *FormatterCell __asm__("__imp__wsprintfA");
extern "C" void *ComputerNameCell __asm__("__imp__GetComputerNameA@8");

namespace {

int HostOnlyFunction() { return 8; }
int HostOffer() { return 9; }

// A delay-import descriptor of the old form with its own tables, every cell
// unbound (holding kUnbound) and the module cell empty.
const FARPROC kUnbound = reinterpret_cast<FARPROC>(0x0BAD0BAD);
class TestImports {
public:
    TestImports(const char *library, std::vector<std::string> functions) : library_(library)
    {
        for (const std::string &f : functions) {
            std::vector<char> entry(2, 0); // hint 0
            entry.insert(entry.end(), f.begin(), f.end());
            entry.push_back(0);
            hintNames_.push_back(entry);
        }
        for (std::vector<char> &h : hintNames_)
            names_.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h.data())));
        names_.push_back(0);
        cells.assign(functions.size() + 1, kUnbound);
        cells.back() = nullptr;
        bound_.assign(functions.size() + 1, nullptr);
        descriptor = {0,       library_.c_str(), &module,      cells.data(),
                      names_.data(), bound_.data(), nullptr, 0};
    }
    FARPROC Bind(size_t i) { return DelayLoadHelper(&descriptor, &cells[i]); }

    HMODULE module = nullptr;
    std::vector<FARPROC> cells;
    DelayImportDescriptor descriptor;

private:
    std::string library_;
    std::vector<std::vector<char>> hintNames_;
    std::vector<uint32_t> names_;
    std::vector<FARPROC> bound_;
};

// Every notification of the bindings of one descriptor, in order.
struct Note {
    unsigned code;
    std::string library, function;
    HMODULE module;
};
std::vector<Note> notes;
const DelayImportDescriptor *watched;
FARPROC WINAPI RecordingHook(unsigned code, DelayLoadInfo *info)
{
    if (info->descriptor == watched)
        notes.push_back({code, info->libraryName,
                         info->proc.importByName ? info->proc.name : "#", info->currentModule});
    return DelayNotifyHook(code, info);
}
std::vector<unsigned> Codes()
{
    std::vector<unsigned> codes;
    for (const Note &n : notes)
        codes.push_back(n.code);
    return codes;
}

FARPROC Export(const char *module, const char *name)
{
    return GetProcAddress(GetModuleHandleA(module), name);
}

class DelayLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreshHost();
        exchangeRecord = {};
        notes.clear();
        HostQuery = host::HostQueryCallback;
        __pfnDliNotifyHook2 = RecordingHook;
    }
    void TearDown() override
    {
        __pfnDliNotifyHook2 = DelayNotifyHook;
        watched = nullptr;
    }
    // A host that serves by name only what the case offers.
    void FreshHost()
    {
        host_.reset();
        host_.emplace(host::Offers::OnlyOffered);
    }
    std::optional<host::StandInHost> host_;
    CellOverride box_{&MessageBoxCell, reinterpret_cast<void *>(&host::SystemMessageBox)};
    FaultCatcher faults_;
};

TEST(DelayHook, InstalledFromLoad) { EXPECT_EQ(__pfnDliNotifyHook2, &DelayNotifyHook); }

// One binding per case: the notifications it gives, where the cell ends up,
// and the exception when it cannot be bound.
TEST_F(DelayLoad, BindingOfOneFunction)
{
    enum Source { Kernel, User, Gdi, Formatter, Host, None };
    struct Case {
        const char *library;
        const char *function;
        std::vector<unsigned> codes;
        Source source;
        DWORD exception; // 0: none
        int hostAsked;   // lookups by name
    };
    const Case cases[] = {
        {"ZUNDA.dll", "GetCPInfo", {0, 1, 2, 5}, Kernel, 0, 0},
        {"ZUNDA.dll", "TolmarHostOnly", {0, 1, 2, 5}, Host, 0, 1},
        {"ZUNDA.dll", "TolmarFoundNowhere", {0, 1, 2}, None, kDelayLoadProcNotFound, 1},
        {"zunda.dll", "GetCPInfo", {0, 1}, None, kDelayLoadModuleNotFound, 0}, // not redirected
        {"TolmarNoSuchLibrary.dll", "Anything", {0, 1}, None, kDelayLoadModuleNotFound, 0},
        {"USER32.dll", "wsprintfA", {0, 1, 2, 5}, Formatter, 0, 0},
        {"GDI32.dll", "wsprintfA", {0, 1, 2, 5}, Formatter, 0, 0},
        {"USER32.dll", "MessageBoxA", {0, 1, 2, 5}, User, 0, 0},
        {"uSeR32.dll", "CharUpperA", {0, 1, 2, 5}, Host, 0, 1}, // USER32.DLL in any case: host first
        {"USER32.dll", "CharLowerA", {0, 1, 2, 5}, User, 0, 1}, // host lacks it
        {"gdi32.DLL", "GetStockObject", {0, 1, 2, 5}, Gdi, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.library) + " " + c.function);
        SetUp();
        const std::map<std::string, void *> offered = {
            {"TolmarHostOnly", reinterpret_cast<void *>(&HostOnlyFunction)},
            {"CharUpperA", reinterpret_cast<void *>(&HostOffer)},
            {"MessageBoxA", reinterpret_cast<void *>(&HostOffer)},
            {"wsprintfA", reinterpret_cast<void *>(&HostOffer)},
        };
        for (const auto &[name, address] : offered)
            host_->OfferProcedure(name, address);
        TestImports imports(c.library, {c.function});
        watched = &imports.descriptor;
        size_t faultsBefore = faults_.caught.size();

        FARPROC bound = imports.Bind(0);

        EXPECT_EQ(Codes(), c.codes);
        for (const Note &n : notes) {
            EXPECT_EQ(n.library, c.library);
            EXPECT_EQ(n.function, c.function);
        }
        FARPROC expected = nullptr;
        switch (c.source) {
        case Kernel: expected = Export("kernel32.dll", c.function); break;
        case User: expected = Export("user32.dll", c.function); break;
        case Gdi: expected = Export("gdi32.dll", c.function); break;
        case Formatter: expected = reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&TolmarFormat)); break;
        case Host: expected = reinterpret_cast<FARPROC>(offered.at(c.function)); break;
        case None: break;
        }
        if (c.exception) {
            ASSERT_EQ(faults_.caught.size(), faultsBefore + 1);
            const FaultCatcher::Caught &caught = faults_.caught.back();
            EXPECT_EQ(caught.code, c.exception);
            EXPECT_EQ(caught.library, c.library);
            EXPECT_EQ(caught.function, c.function);
            EXPECT_EQ(caught.infoCell, &imports.cells[0]);
            EXPECT_EQ(bound, nullptr);
            EXPECT_EQ(imports.cells[0], kUnbound); // a later call tries again
        } else {
            EXPECT_EQ(faults_.caught.size(), faultsBefore);
            ASSERT_NE(expected, nullptr);
            EXPECT_EQ(bound, expected);
            EXPECT_EQ(imports.cells[0], expected);
        }
        if (c.exception == kDelayLoadModuleNotFound) {
            EXPECT_EQ(imports.module, nullptr);
        }
        // MessageBoxA and wsprintfA are never asked of the host.
        for (const std::string &name : host_->NameQueries())
            EXPECT_TRUE(name != "MessageBoxA" && name != "wsprintfA") << name;
        EXPECT_EQ(static_cast<int>(host_->NameQueries().size()), c.hostAsked);
    }
}

TEST_F(DelayLoad, ZundaIsTheKernelLoadedOnce)
{
    TestImports imports("ZUNDA.dll", {"GetCPInfo", "GetVersionExA"});
    watched = &imports.descriptor;
    imports.Bind(0);
    EXPECT_EQ(imports.module, GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(exchangeRecord.CallsOn(&imports.module), 1);
    notes.clear();
    imports.Bind(1);
    EXPECT_EQ(Codes(), (std::vector<unsigned>{0, 2, 5}));
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].module, GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(exchangeRecord.CallsOn(&imports.module), 1);
    EXPECT_EQ(imports.cells[1], Export("kernel32.dll", "GetVersionExA"));
}

// Another binder stored the same module first: the extra reference goes.
TEST_F(DelayLoad, SecondBinderReleasesItsReference)
{
    ASSERT_EQ(GetModuleHandleA("PAKTO.dll"), nullptr);
    HMODULE first = LoadLibraryA("PAKTO.dll"); // the other binder's reference
    ASSERT_NE(first, nullptr);
    TestImports imports("PAKTO.dll", {"InterlockedExchange"});
    exchangeRecord.raceCell = reinterpret_cast<volatile LONG *>(&imports.module);
    imports.Bind(0);
    EXPECT_EQ(imports.module, first);
    EXPECT_EQ(exchangeRecord.CallsOn(&imports.module), 1);
    FreeLibrary(first);
    EXPECT_EQ(GetModuleHandleA("PAKTO.dll"), nullptr);
}

TEST_F(DelayLoad, ZundaLookupOrder)
{
    struct Case {
        const char *function;
        bool hostOffers;
        FARPROC expected;
        int hostAsked;
    };
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const Case cases[] = {
        {"GetCPInfo", true, Export("kernel32.dll", "GetCPInfo"), 0},
        {"TolmarTestExport", true, reinterpret_cast<FARPROC>(&TolmarTestExport), 0},
        {"TolmarHostOnly", true, reinterpret_cast<FARPROC>(&HostOnlyFunction), 1},
        {"TolmarFoundNowhere", false, nullptr, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        FreshHost();
        if (c.hostOffers)
            host_->OfferProcedure(c.function, reinterpret_cast<void *>(&HostOnlyFunction));
        EXPECT_EQ(LookupZundaProc(kernel, c.function), c.expected);
        EXPECT_EQ(static_cast<int>(host_->NameQueries().size()), c.hostAsked);
        EXPECT_TRUE(host_->systemBoxes.empty()); // the lookup itself shows nothing
    }
}

TEST_F(DelayLoad, FunctionFoundNowhereIsShown)
{
    TestImports imports("ZUNDA.dll", {"TolmarFoundNowhere"});
    host_->systemBoxAnswers = {IDOK};
    imports.Bind(0);
    ASSERT_EQ(host_->systemBoxes.size(), 1u);
    EXPECT_EQ(host_->systemBoxes[0].owner, nullptr);
    EXPECT_EQ(host_->systemBoxes[0].text, "Nie znaleziono\nTolmarFoundNowhere\nfrom ZUNDA.dll");
    EXPECT_EQ(host_->systemBoxes[0].caption, "Blad wtyczki");
    EXPECT_EQ(host_->systemBoxes[0].style, 0x40u);
    EXPECT_EQ(host_->NameQueries(), std::vector<std::string>{"TolmarFoundNowhere"});
}

TEST_F(DelayLoad, RedirectionRules)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(RedirectLibrary("ZUNDA.dll"), kernel);
    EXPECT_EQ(RedirectLibrary("zunda.dll"), nullptr);
    EXPECT_EQ(RedirectLibrary("ZUNDA.DLL"), nullptr);
    EXPECT_EQ(RedirectLibrary("USER32.dll"), nullptr);
    EXPECT_EQ(RedirectProc(kernel, "ZUNDA.dll", MAKEINTRESOURCEA(5)), nullptr); // by ordinal
    EXPECT_EQ(RedirectProc(kernel, "Other.dll", "GetCPInfo"), nullptr);
    EXPECT_EQ(RedirectProc(kernel, "Zunda.dll", "GetCPInfo"), nullptr);
    EXPECT_TRUE(host_->trace.empty());
    EXPECT_TRUE(host_->systemBoxes.empty());
}

// An exception thrown while a function binds travels from the hook through
// the binding routine and the library's tail to the code that called through
// the cell, which runs its destructors; the cell binds on its next call.
struct HookFailure {};
FARPROC WINAPI ThrowingHook(unsigned code, DelayLoadInfo *info)
{
    if (code == dliStartProcessing && info->cell == reinterpret_cast<FARPROC *>(&ComputerNameCell))
        throw HookFailure{};
    return DelayNotifyHook(code, info);
}

struct Counted {
    int &destroyed;
    ~Counted() { ++destroyed; }
};
__attribute__((noinline)) BOOL ComputerNameHolding(int &destroyed)
{
    Counted held{destroyed};
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size); // through the module's ZUNDA.dll cell
}

TEST_F(DelayLoad, ExceptionDuringTheFirstCallReachesTheCaller)
{
    FARPROC system = Export("kernel32.dll", "GetComputerNameA");
    ASSERT_NE(ComputerNameCell, reinterpret_cast<void *>(system)); // still its binding stub
    __pfnDliNotifyHook2 = ThrowingHook;
    int destroyed = 0;
    EXPECT_THROW(ComputerNameHolding(destroyed), HookFailure);
    EXPECT_EQ(destroyed, 1);

    __pfnDliNotifyHook2 = DelayNotifyHook;
    EXPECT_TRUE(ComputerNameHolding(destroyed));
    EXPECT_EQ(ComputerNameCell, reinterpret_cast<void *>(system));
    EXPECT_EQ(destroyed, 2);
}

// The module's own cells: wsprintfA goes to the plug-in's formatter, and
// its first call has loaded USER32.dll.
TEST_F(DelayLoad, FormatterCellNeverReachesTheSystem)
{
    char text[32];
    EXPECT_EQ(wsprintfA(text, "%s-%d-%.1f", "ab", 12, 2.5), 9);
    EXPECT_STREQ(text, "ab-12-2.5"); // the system's wsprintfA has no %f
    EXPECT_EQ(FormatterCell, reinterpret_cast<void *>(&TolmarFormat));
    EXPECT_NE(User32ModuleCell, nullptr);
    EXPECT_EQ(User32ModuleCell, GetModuleHandleA("USER32.dll"));
}

} // namespace
