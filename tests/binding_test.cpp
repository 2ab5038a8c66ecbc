// Host entries through their thunks: binding on the first call, the
// missing-entry report and the fallbacks. The binding layer's library, the
// DLL's own objects, is linked in, with no DLL; the stand-in host serves only
// the entries a case offers and answers the system's message boxes from the
// case's script.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "binding/bind.h"
#include "host/mazovia.h"
#include "host/stand_in_host.h"
#include "plugin/plugin.h"
#include "tests/binding_support.h"
#include "tests/report_texts.h"
#include "tests/service_arguments.h"

#define DECLARE_ENTRY(id)                                                                      \
    extern "C" char Jump_##id[] __asm__("_HostEntry_" #id);                                    \
    extern "C" void *Slot_##id __asm__("EntrySlot_" #id);
DECLARE_ENTRY(52256)
DECLARE_ENTRY(21283)
DECLARE_ENTRY(21283_2)
DECLARE_ENTRY(30908)
DECLARE_ENTRY(32699)
DECLARE_ENTRY(52005)
DECLARE_ENTRY(50376)
DECLARE_ENTRY(52028)
DECLARE_ENTRY(20000)
DECLARE_ENTRY(52158)
DECLARE_ENTRY(52179)

extern "C" HMODULE User32ModuleCell __asm__("User32ModuleCell");

namespace {

constexpr uint32_t kArgumentWord = 0xA5A5A5A5;
constexpr int IDABORT_ = IDABORT, IDRETRY_ = IDRETRY, IDIGNORE_ = IDIGNORE;

// The host's text conversion for the tests: every byte above 0x7F becomes
// '#', so that a converted text is told from an unconverted one.
struct Conversion {
    bool inPlace;
    int32_t from, to;
    std::string text;
};
std::vector<Conversion> conversions;
std::string Converted(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) > 0x7F)
            c = '#';
    return text;
}
char *__stdcall FakeConvertText(char *dst, const char *src, int32_t from, int32_t to)
{
    conversions.push_back({dst == src, from, to, src});
    std::string out = Converted(src);
    std::memcpy(dst, out.c_str(), out.size() + 1);
    return dst;
}

// GetModuleFileNameA as scripted: fails when path is empty.
std::string scriptedPath;
std::vector<DWORD> pathLimits;
DWORD WINAPI ScriptedModuleFileName(HMODULE module, LPSTR buffer, DWORD size)
{
    pathLimits.push_back(size);
    if (module || scriptedPath.empty())
        return 0;
    std::memcpy(buffer, scriptedPath.c_str(), scriptedPath.size() + 1);
    return static_cast<DWORD>(scriptedPath.size());
}

// The slots as the module was loaded, before any test bound one.
const std::vector<void *> &InitialSlots()
{
    static const std::vector<void *> slots(EntrySlotTable, EntrySlotTableEnd);
    return slots;
}
const bool slotsTaken = !InitialSlots().empty();

void *InitialSlot(void **slot) { return InitialSlots()[slot - EntrySlotTable]; }

class Binding : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::copy(InitialSlots().begin(), InitialSlots().end(), EntrySlotTable);
        host_.reset();
        host_.emplace(host::Offers::OnlyOffered);
        conversions.clear();
        pathLimits.clear();
        scriptedPath = "C:\\HOST\\PROGRAM.EXE";
        HostQuery = host::HostQueryCallback;
        UnderWindows = 0;
        SetRegisters(0x11111111);
        ProbeSeen[9] = 0;
    }

    static void SetRegisters(uint32_t base)
    {
        for (int i = 0; i < 7; ++i)
            CallerRegs[i] = base * (i + 1);
    }

    // Calls the entry with count argument words; returns what came back.
    struct Outcome {
        uint32_t result;
        uint32_t bytesRemoved;
    };
    static Outcome Call(const void *jump, int count)
    {
        CallWithRegisters(jump, count);
        return {CallerEaxAfter, CallerEspAfter - CallerEspAtCall};
    }

    std::optional<host::StandInHost> host_; // a fresh one for every case
    CellOverride box_{&MessageBoxCell, reinterpret_cast<void *>(&host::SystemMessageBox)};
    CellOverride path_{&ModuleFileNameCell, reinterpret_cast<void *>(&ScriptedModuleFileName)};
    FaultCatcher faults_;
};

TEST_F(Binding, FirstCallAsksOnceAndTheServiceGetsTheCallersState)
{
    host_->OfferEntry(52256, reinterpret_cast<void *>(&RegisterProbe));
    const uint32_t registerSets[] = {0x01020304, 0x7F6E5D4C};
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "first call" : "second call");
        SetRegisters(registerSets[pass]);
        Outcome out = Call(Jump_52256, 1);
        EXPECT_EQ(host_->trace, std::vector<std::string>{"HostQuery(2, 52256)"});
        EXPECT_EQ(ProbeSeen[9], static_cast<uint32_t>(pass + 1));
        const int seenIndex[7] = {0, 1, 2, 3, 6, 7, 5}; // eax ecx edx ebx esi edi ebp
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(ProbeSeen[seenIndex[i]], CallerRegs[i]) << "register " << i;
        EXPECT_EQ(ProbeSeen[4], CallerEspAtCall - 4); // only the return address on top
        EXPECT_EQ(ProbeSeen[8], kArgumentWord);
        EXPECT_EQ(out.result, 0x600DF00Du);
        EXPECT_EQ(out.bytesRemoved, 4u);
        EXPECT_EQ(Slot_52256, reinterpret_cast<void *>(&RegisterProbe));
    }
    EXPECT_TRUE(host_->systemBoxes.empty());
}

// An exception thrown while an entry binds travels from HostQuery through
// BindEntry and the first-call piece to the code that called the entry,
// which runs its destructors; the entry binds on its next call.
struct QueryFailure {};
intptr_t __cdecl ThrowingHostQuery(int32_t, const void *) { throw QueryFailure{}; }

struct Counted {
    int &destroyed;
    ~Counted() { ++destroyed; }
};
__attribute__((noinline)) int32_t CallEntryHolding(const void *jump, int &destroyed)
{
    Counted held{destroyed};
    return reinterpret_cast<int32_t(__stdcall *)(int32_t)>(jump)(0x5EED);
}

TEST_F(Binding, ExceptionDuringTheFirstCallReachesTheCaller)
{
    HostQuery = ThrowingHostQuery;
    int destroyed = 0;
    EXPECT_THROW(CallEntryHolding(Jump_52256, destroyed), QueryFailure);
    EXPECT_EQ(destroyed, 1);

    HostQuery = host::HostQueryCallback;
    host_->OfferEntry(52256, reinterpret_cast<void *>(&RegisterProbe));
    EXPECT_EQ(CallEntryHolding(Jump_52256, destroyed), 0x600DF00D);
    EXPECT_EQ(ProbeSeen[8], 0x5EEDu);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(host_->QueryCount(52256), 1);
}

TEST_F(Binding, TheTwoEntriesOfOneNumberBindEachOnItsOwn)
{
    host_->OfferEntry(21283, reinterpret_cast<void *>(&RegisterProbe));
    Call(Jump_21283, 1);
    EXPECT_EQ(host_->QueryCount(21283), 1);
    EXPECT_EQ(Slot_21283_2, InitialSlot(&Slot_21283_2));
    Call(Jump_21283_2, 1);
    EXPECT_EQ(host_->QueryCount(21283), 2);
    EXPECT_EQ(Slot_21283_2, reinterpret_cast<void *>(&RegisterProbe));
    Call(Jump_21283, 1);
    Call(Jump_21283_2, 1);
    EXPECT_EQ(host_->QueryCount(21283), 2);
}

// A missing entry and the user's answer: the slot that results, and what a
// call through it does to the caller's stack.
TEST_F(Binding, MissingEntryFollowsTheAnswer)
{
    struct Case {
        const char *name;
        const char *jump;
        void **slot;
        uint32_t number;
        std::vector<int> answers;
        int arguments;   // words the caller pushes
        int stub;        // fallback stub expected, or -1 for Empty
    };
    const Case cases[] = {
        {"30908 Ignore: the service's 8 bytes", Jump_30908, &Slot_30908, 30908, {IDIGNORE_}, 2, 2},
        {"32699 Ignore: caller cleans", Jump_32699, &Slot_32699, 32699, {IDIGNORE_}, 3, 0},
        {"52005 Ignore: 5 is no argument size", Jump_52005, &Slot_52005, 52005, {IDIGNORE_}, 10, -1},
        {"50376 Ignore: no stub removes 76", Jump_50376, &Slot_50376, 50376, {IDIGNORE_}, 19, -1},
        {"52028 Ignore: three arguments, whatever 28 says", Jump_52028, &Slot_52028, 52028,
         {IDIGNORE_}, 3, 3},
        {"20000 Ignore: arguments unknown", Jump_20000, &Slot_20000, 20000, {IDIGNORE_}, 1, -1},
        {"30908 Abort", Jump_30908, &Slot_30908, 30908, {IDABORT_}, 2, -1},
        {"30908, box cannot be shown", Jump_30908, &Slot_30908, 30908, {}, 2, -1},
        {"30908 Retry, Retry, Ignore", Jump_30908, &Slot_30908, 30908,
         {IDRETRY_, IDRETRY_, IDIGNORE_}, 2, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        host_->systemBoxAnswers.assign(c.answers.begin(), c.answers.end());
        for (int call = 0; call < 2; ++call) {
            SCOPED_TRACE(call == 0 ? "first call" : "second call");
            size_t faultsBefore = faults_.caught.size();
            Outcome out = Call(c.jump, c.arguments);
            if (c.stub >= 0) {
                EXPECT_EQ(*c.slot, FallbackStubTable[c.stub]);
                EXPECT_EQ(out.result, 0u);
                EXPECT_EQ(out.bytesRemoved, 4u * c.stub);
                EXPECT_EQ(faults_.caught.size(), faultsBefore);
            } else {
                // Empty: the call enters nothing and ends in a fault, never
                // in a result the caller could take for success.
                EXPECT_EQ(*c.slot, nullptr);
                ASSERT_EQ(faults_.caught.size(), faultsBefore + 1);
                EXPECT_EQ(faults_.caught.back().code, EXCEPTION_ACCESS_VIOLATION);
                EXPECT_EQ(out.result, FaultCatcher::kFaultResult);
            }
        }
        EXPECT_EQ(host_->QueryCount(c.number), 1);
        EXPECT_EQ(host_->systemBoxes.size(), std::max<size_t>(c.answers.size(), 1));
        for (const host::SystemBox &b : host_->systemBoxes)
            EXPECT_EQ(b.text, host_->systemBoxes[0].text);
    }
}

// The USER32.dll cells as the module was loaded: their binding stubs.
extern "C" void *FormatterCell __asm__("__imp__wsprintfA");
void *const kMessageBoxAtLoad = MessageBoxCell;
void *const kFormatterAtLoad = FormatterCell;

// The delay-load notifications for USER32.dll ("code function"), passed on
// to the plug-in's hook; the system's MessageBoxA is answered with the
// scripted box.
std::vector<std::string> userNotes;
FARPROC WINAPI CountingHook(unsigned code, DelayLoadInfo *info)
{
    if (info->descriptor == &User32DelayDescriptor)
        userNotes.push_back(std::to_string(code) + " " + info->proc.name);
    FARPROC answer = DelayNotifyHook(code, info);
    if (code == dliNotePreGetProcAddress && !answer &&
        std::strcmp(info->proc.name, "MessageBoxA") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&host::SystemMessageBox));
    return answer;
}

// The first report of a load, with both USER32.dll functions unbound: the
// message is formatted (wsprintfA binds, loading the library), the first box
// binds MessageBoxA, and the boxes after each Retry call the bound function
// straight, with no second binding (0, 2, 5) and no second lookup.
TEST_F(Binding, RetryKeepsTheBoundMessageBox)
{
    CellOverride boxUnbound{&MessageBoxCell, kMessageBoxAtLoad};
    CellOverride formatterUnbound{&FormatterCell, kFormatterAtLoad};
    CellOverride noLibrary{reinterpret_cast<void **>(&User32ModuleCell), nullptr};
    userNotes.clear();
    __pfnDliNotifyHook2 = CountingHook;
    host_->systemBoxAnswers = {IDRETRY_, IDRETRY_, IDIGNORE_};
    Outcome out = Call(Jump_30908, 2);
    __pfnDliNotifyHook2 = DelayNotifyHook;

    EXPECT_EQ(host_->systemBoxes.size(), 3u);
    EXPECT_EQ(out.bytesRemoved, 8u);
    EXPECT_EQ(Slot_30908, FallbackStubTable[2]);
    EXPECT_EQ(host_->QueryCount(30908), 1);
    EXPECT_EQ(userNotes, (std::vector<std::string>{"0 wsprintfA", "1 wsprintfA", "2 wsprintfA",
                                                   "5 wsprintfA", "0 MessageBoxA",
                                                   "2 MessageBoxA", "5 MessageBoxA"}));
    EXPECT_EQ(MessageBoxCell, reinterpret_cast<void *>(&host::SystemMessageBox));
}

TEST_F(Binding, ReportUnderTheDosExtenderKeepsHighlightsAndMazovia)
{
    host_->systemBoxAnswers = {IDIGNORE_};
    Call(Jump_30908, 2);
    ASSERT_EQ(host_->systemBoxes.size(), 1u);
    EXPECT_EQ(host_->systemBoxes[0].owner, nullptr);
    EXPECT_EQ(host_->systemBoxes[0].text, report::MissingEntry("C:\\HOST\\PROGRAM.EXE", "30908"));
    EXPECT_EQ(host_->systemBoxes[0].caption, report::kCaption);
    EXPECT_EQ(host_->systemBoxes[0].style, 0x2012u);
    EXPECT_EQ(pathLimits, std::vector<DWORD>{300});
    EXPECT_TRUE(conversions.empty());
    EXPECT_EQ(host_->QueryCount(52158), 0);
}

TEST_F(Binding, ReportUnderWindowsIsSpacedAndConverted)
{
    UnderWindows = 1;
    host_->OfferEntry(52158, reinterpret_cast<void *>(&FakeConvertText));
    host_->systemBoxAnswers = {IDIGNORE_};
    Call(Jump_30908, 2);
    std::string spaced = report::Spaced(report::MissingEntry("C:\\HOST\\PROGRAM.EXE", "30908"));
    ASSERT_EQ(conversions.size(), 2u);
    EXPECT_EQ(conversions[0].text, spaced);
    EXPECT_EQ(conversions[1].text, report::kCaption);
    for (const Conversion &c : conversions) {
        EXPECT_TRUE(c.inPlace);
        EXPECT_EQ(c.from, 1);
        EXPECT_EQ(c.to, 3);
    }
    ASSERT_EQ(host_->systemBoxes.size(), 1u);
    EXPECT_EQ(host_->systemBoxes[0].text, Converted(spaced));
    EXPECT_EQ(host_->systemBoxes[0].caption, Converted(report::kCaption));
    EXPECT_EQ(host_->systemBoxes[0].style, 0x2012u);
}

TEST_F(Binding, UnreadablePathIsNamedUnknown)
{
    scriptedPath.clear();
    host_->systemBoxAnswers = {IDIGNORE_};
    Call(Jump_30908, 2);
    ASSERT_EQ(host_->systemBoxes.size(), 1u);
    EXPECT_EQ(host_->systemBoxes[0].text, report::MissingEntry("<nieznany>", "30908"));
}

// The 511 characters hold the fixed text, the number and the title whatever
// the path; a path too long for the rest is shortened to its tail.
TEST_F(Binding, LongPathIsShortenedNotTheText)
{
    for (size_t length : {287u, 288u, 299u}) {
        SCOPED_TRACE(length);
        SetUp();
        scriptedPath = "C:\\" + std::string(length - 3, 'p');
        scriptedPath.back() = 'E';
        host_->systemBoxAnswers = {IDIGNORE_};
        Call(Jump_30908, 2);
        ASSERT_EQ(host_->systemBoxes.size(), 1u);
        const std::string &text = host_->systemBoxes[0].text;
        EXPECT_LE(text.size(), 511u);
        std::string shownPath = length <= 287 ? scriptedPath
                                              : "..." + scriptedPath.substr(length - 284);
        EXPECT_EQ(text, report::MissingEntry(shownPath, "30908"));
    }
}

// HostConvertText (52158) missing while another entry is reported: its own
// report comes first, without converting and without a call through its
// Empty slot; then the first report is shown unconverted.
TEST_F(Binding, MissingConverterDuringAReport)
{
    struct Case {
        const char *name;
        int converterAnswer;
        void *converterSlot;
    };
    const Case cases[] = {
        {"converter aborted", IDABORT_, nullptr},
        {"converter ignored", IDIGNORE_, FallbackStubTable[4]},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        UnderWindows = 1;
        host_->systemBoxAnswers = {c.converterAnswer, IDIGNORE_};
        Outcome out = Call(Jump_30908, 2);
        EXPECT_EQ(out.result, 0u);
        EXPECT_EQ(out.bytesRemoved, 8u);
        ASSERT_EQ(host_->systemBoxes.size(), 2u);
        const std::string path = "C:\\HOST\\PROGRAM.EXE";
        EXPECT_EQ(host_->systemBoxes[0].text, report::Spaced(report::MissingEntry(path, "52158")));
        EXPECT_EQ(host_->systemBoxes[1].text, report::Spaced(report::MissingEntry(path, "30908")));
        EXPECT_EQ(host_->systemBoxes[1].caption, report::kCaption);
        EXPECT_EQ(Slot_52158, c.converterSlot);
        EXPECT_EQ(host_->QueryCount(52158), 1);
        EXPECT_TRUE(faults_.caught.empty());
    }
}

TEST_F(Binding, MissingConverterCalledFirstIsReportedOnce)
{
    UnderWindows = 1;
    host_->systemBoxAnswers = {IDIGNORE_};
    char text[] = "abc";
    using Convert = char *(__stdcall *)(char *, const char *, int32_t, int32_t);
    char *result = reinterpret_cast<Convert>(reinterpret_cast<void *>(Jump_52158))(text, text, 1, 3);
    EXPECT_EQ(result, nullptr);
    ASSERT_EQ(host_->systemBoxes.size(), 1u);
    EXPECT_EQ(host_->systemBoxes[0].text, report::Spaced(report::MissingEntry("C:\\HOST\\PROGRAM.EXE", "52158")));
    EXPECT_EQ(Slot_52158, FallbackStubTable[4]);
}

// HostScaleAmount returns a double: its fallback gives 0.0 where the caller
// reads it, and removes the double and the 32-bit value.
TEST_F(Binding, MissingServiceWithARealResultReturnsZero)
{
    host_->systemBoxAnswers = {IDIGNORE_};
    using Scale = double(__stdcall *)(double, int32_t);
    auto scale = reinterpret_cast<Scale>(reinterpret_cast<void *>(Jump_52179));
    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        double result = scale(12.5, 100);
        EXPECT_EQ(result, 0.0);
    }
    EXPECT_EQ(Slot_52179, reinterpret_cast<void *>(&FallbackStubReal3));
    EXPECT_EQ(host_->systemBoxes.size(), 1u);
    CallerRealAfter = 1.0;
    CallRealWithRegisters(Jump_52179, 3);
    EXPECT_EQ(CallerEspAfter - CallerEspAtCall, 12u);
    EXPECT_EQ(CallerRealAfter, 0.0);
}

TEST(PickFallback, ArgumentBytesOfTheEntry)
{
    struct Case {
        uint32_t number;
        int stub; // -1: Empty
    };
    std::vector<Case> cases = {
        {32699, 0}, {33099, 0}, {41299, 0}, {50376, -1}, {50148, 12}, {41524, 6},
        {40004, 1}, {32200, 0}, {51244, 11}, {52005, -1}, {20000, -1}, {38440, -1}, {52503, -1},
    };
    // Every declared service (tests/service_arguments.h): the stub removing
    // the words the service removes, none where the caller removes them.
    // HostScaleAmount's real result has its own test above; HostCreateProcess
    // (52005) stays Empty.
    for (const ServiceArguments &s : kServiceArguments)
        cases.push_back({s.number, s.calleeCleans ? static_cast<int>(s.words) : 0});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.number);
        void *slot = reinterpret_cast<void *>(1);
        PickFallback(c.number, &slot);
        EXPECT_EQ(slot, c.stub < 0 ? nullptr : FallbackStubTable[c.stub]);
    }
}

} // namespace
