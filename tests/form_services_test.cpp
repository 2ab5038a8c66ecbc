// HostRunForm and HostFormValue as the plug-in calls them: through their
// service addresses, with their calling conventions, the template bytes
// handed over whole and the keys scripted in the stand-in host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/forms.h"
#include "host/service_calls.h"
#include "host/service_wrappers.h"
#include "host/stand_in_host.h"
#include "mmimport/form_table.h"

namespace {

namespace key = host::key;

using RunFormService = int16_t(__cdecl *)(const void *table, int32_t formId, void *data,
                                          host::FormKeyCallback onKey, ...);
using FormValueService = int16_t *(__stdcall *)(int32_t elementId);

RunFormService RunForm() { return reinterpret_cast<RunFormService>(host::ServiceAddress(52026)); }
FormValueService FormValue()
{
    return reinterpret_cast<FormValueService>(host::ServiceAddress(52033));
}

class FormServices : public ::testing::Test {
protected:
    int Count(const std::string &line) const
    {
        return static_cast<int>(std::count(h.trace.begin(), h.trace.end(), line));
    }
    host::StandInHost h;
};

TEST_F(FormServices, DateDialogTakesTheTypedDatesAndRecordsTheRun)
{
    ASSERT_NE(RunForm(), nullptr);
    char data[18] = {};
    h.Type("01.02.24");
    h.keys.push_back(key::F4);
    h.Type("28.02.24");
    h.keys.push_back(key::F12);
    EXPECT_EQ(RunForm()(FormTable, DateRangeFormId, data, nullptr), FormConfirmed);
    EXPECT_EQ(std::string(data, 18), std::string("01.02.24\0" "28.02.24\0", 18));
    EXPECT_EQ(h.trace, std::vector<std::string>{"HostRunForm(1003)"});
    EXPECT_TRUE(h.keys.empty());
    // The dialog is left on the host's screen as it was closed.
    EXPECT_NE(h.screen.Line(9).find("Podaj daty (wystawienia) graniczne dla dok. MM"),
              std::string::npos);
}

TEST_F(FormServices, EscAndUnknownFormsAreNotConfirmed)
{
    char data[18] = {};
    h.keys = {key::Esc};
    EXPECT_NE(RunForm()(FormTable, DateRangeFormId, data, nullptr), FormConfirmed);
    EXPECT_NE(RunForm()(FormTable, 999, data, nullptr), FormConfirmed);
    EXPECT_EQ(h.trace, (std::vector<std::string>{"HostRunForm(1003)", "HostRunForm(999)"}));
}

// The plug-in's side of the list: it reaches the current row only through
// the HostFormValue service, as OnListKey does.
struct Side {
    int rows = 3;
    std::vector<int16_t> insertRows;
    char text[64];
} side;

int16_t __stdcall OnKey(int16_t code, int16_t)
{
    if (code != InsertKey)
        return 0;
    int16_t row = *FormValue()(MmListElementId);
    side.insertRows.push_back(row);
    *FormValue()(MmListElementId) = static_cast<int16_t>((row + 1) % side.rows);
    return MmListElementId;
}

intptr_t __stdcall RowText(int16_t row, int32_t)
{
    if (row == -1)
        return side.rows;
    std::snprintf(side.text, sizeof side.text, " \rMM/%d\r\r0.00\r", row);
    return reinterpret_cast<intptr_t>(side.text);
}

TEST_F(FormServices, ListRunsWithBothCallbacksAndItsRowPointer)
{
    side = Side{};
    h.keys = {key::Down, key::Insert, key::Insert, key::Insert, key::F12};
    EXPECT_EQ(RunForm()(FormTable, MmListFormId, nullptr, &OnKey, &RowText), FormConfirmed);
    EXPECT_EQ(side.insertRows, (std::vector<int16_t>{1, 2, 0}));
    EXPECT_EQ(h.trace.front(), "HostRunForm(1002)");
    EXPECT_EQ(Count("HostFormValue(16385)"), 6);
}

TEST_F(FormServices, RowPointerOutsideAListIsHarmless)
{
    int16_t *row = FormValue()(MmListElementId);
    ASSERT_NE(row, nullptr);
    *row = 5; // writing through it must not disturb a later list
    side = Side{};
    h.keys = {key::Insert, key::F12};
    EXPECT_EQ(RunForm()(FormTable, MmListFormId, nullptr, &OnKey, &RowText), FormConfirmed);
    EXPECT_EQ(side.insertRows, (std::vector<int16_t>{0}));
}

// Exceptions on their way through the host's assembly: the checked call of
// the plug-in's handler and callbacks, and the wrapper of every service.
// The code that made the call runs its destructors and catches them, and
// the wrappers' frames stay in step with the calls still running.
struct Failure {
    std::string what;
};
struct Counted {
    int &destroyed;
    ~Counted() { ++destroyed; }
};

int32_t __cdecl ThrowingTarget(int32_t first, int32_t second)
{
    throw Failure{std::to_string(first) + "," + std::to_string(second)};
}
int32_t __stdcall Sum(int32_t first, int32_t second) { return first + second; }

__attribute__((noinline)) int32_t CheckedCallHolding(const void *target, int &destroyed)
{
    Counted held{destroyed};
    const uint32_t arguments[] = {7, 9};
    return host::CheckedCall(target, arguments, 2);
}

TEST(CheckedCall, ExceptionFromTheTargetReachesTheCaller)
{
    int destroyed = 0;
    try {
        CheckedCallHolding(reinterpret_cast<const void *>(&ThrowingTarget), destroyed);
        ADD_FAILURE() << "no exception";
    } catch (const Failure &e) {
        EXPECT_EQ(e.what, "7,9");
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(CheckedCallHolding(reinterpret_cast<const void *>(&Sum), destroyed), 16);
    EXPECT_EQ(host::CheckedCallRemoved, 8u);
    EXPECT_EQ(destroyed, 2);
}

using MessageBoxService = int32_t(__stdcall *)(const char *title, const char *text, int32_t style);
MessageBoxService MessageBoxSvc()
{
    return reinterpret_cast<MessageBoxService>(host::ServiceAddress(52028));
}
__attribute__((noinline)) int32_t MessageBoxHolding(const char *text, int &destroyed)
{
    Counted held{destroyed};
    return MessageBoxSvc()("Uwaga", text, 0);
}
void ThrowOnShow(host::StandInHost &h)
{
    h.showMessage = [](const host::Message &m) { throw Failure{m.text}; };
}

TEST_F(FormServices, ExceptionFromAServiceReachesTheCaller)
{
    ThrowOnShow(h);
    int destroyed = 0;
    // More failed calls than the wrappers have frames: each gives its frame back.
    constexpr int kFailed = TOLMAR_SERVICE_FRAMES + 1;
    for (int i = 0; i < kFailed; ++i) {
        try {
            MessageBoxHolding("pierwszy", destroyed);
            ADD_FAILURE() << "no exception";
        } catch (const Failure &e) {
            EXPECT_EQ(e.what, "pierwszy");
        }
    }
    EXPECT_EQ(destroyed, kFailed);
    h.showMessage = nullptr;
    EXPECT_EQ(MessageBoxHolding("drugi", destroyed), 1);
    EXPECT_EQ(destroyed, kFailed + 1);
    EXPECT_EQ(h.trace, std::vector<std::string>(kFailed + 1, "HostMessageBox(\"Uwaga\", 0)"));
}

// A callback of a running form whose service call fails catches the
// exception itself; the form goes on, and HostRunForm returns to its caller
// through its own frame of the wrappers, not through the failed call's.
int16_t __stdcall CatchingOnKey(int16_t code, int16_t)
{
    if (code != InsertKey)
        return 0;
    try {
        MessageBoxSvc()("Uwaga", "w formularzu", 0);
    } catch (const Failure &) {
        side.insertRows.push_back(*FormValue()(MmListElementId));
    }
    return MmListElementId;
}

TEST_F(FormServices, ExceptionCaughtInsideACallbackLeavesTheFormRunning)
{
    ThrowOnShow(h);
    side = Side{};
    h.keys = {key::Insert, key::Down, key::Insert, key::F12};
    EXPECT_EQ(RunForm()(FormTable, MmListFormId, nullptr, &CatchingOnKey, &RowText), FormConfirmed);
    EXPECT_EQ(side.insertRows, (std::vector<int16_t>{0, 1}));
    EXPECT_EQ(Count("HostMessageBox(\"Uwaga\", 0)"), 2);
}

// A callback's exception leaves the form: through the checked call, the form
// engine and HostRunForm's wrapper to the code that ran the form. A form run
// afterwards works as before.
int16_t __stdcall ThrowingOnKey(int16_t code, int16_t)
{
    throw Failure{"klawisz " + std::to_string(code)};
}
__attribute__((noinline)) int16_t RunListHolding(host::FormKeyCallback onKey, int &destroyed)
{
    Counted held{destroyed};
    return RunForm()(FormTable, MmListFormId, nullptr, onKey, &RowText);
}

TEST_F(FormServices, ExceptionFromACallbackReachesTheCodeThatRanTheForm)
{
    side = Side{};
    h.keys = {key::Insert};
    int destroyed = 0;
    try {
        RunListHolding(&ThrowingOnKey, destroyed);
        ADD_FAILURE() << "no exception";
    } catch (const Failure &e) {
        EXPECT_EQ(e.what, "klawisz " + std::to_string(InsertKey));
    }
    EXPECT_EQ(destroyed, 1);
    h.keys = {key::Insert, key::F12};
    EXPECT_EQ(RunListHolding(&OnKey, destroyed), FormConfirmed);
    EXPECT_EQ(side.insertRows, (std::vector<int16_t>{0}));
    EXPECT_EQ(destroyed, 2);
}

// The call-site check of every service call from the plug-in: the code after
// the call, as the compiler writes it for either convention, against what
// the service removes. 0x90 (nop) pads each to the bytes the check reads.
TEST(CallSite, CodeAfterTheCallAgainstTheBytesTheServiceRemoves)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> code;
        uint32_t removed;
        bool stores;
        int expected; // -1: agrees, or does not tell
    };
    const Case cases[] = {
        {"readjusted at once", {0x83, 0xEC, 0x0C}, 12, true, -1},
        {"readjusted a little later", {0x31, 0xC0, 0x83, 0xEC, 0x0C}, 12, true, -1},
        {"readjusted by a long immediate", {0x81, 0xEC, 0x00, 0x01, 0x00, 0x00}, 256, true, -1},
        {"not readjusted: taken for the caller's to remove",
         {0xB8, 0xFF, 0xFF, 0xFF, 0xFF, 0xEB, 0x10}, 12, true, 0},
        {"readjusted by other bytes", {0x83, 0xEC, 0x08}, 12, true, 8},
        {"readjusted after a service that removes nothing", {0x83, 0xEC, 0x04}, 0, true, 4},
        {"nothing after a service that removes nothing", {0x31, 0xC0}, 0, true, -1},
        {"removed by the caller", {0x83, 0xC4, 0x10}, 0, false, -1},
        {"removed by the caller of a service that removes them", {0x83, 0xC4, 0x10}, 16, false, 0},
        {"pushing code that does not pop", {0x31, 0xC0}, 12, false, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> code = c.code;
        code.resize(32, 0x90);
        std::optional<uint32_t> expected = host::CallerExpects(code.data(), c.removed, c.stores);
        if (c.expected < 0)
            EXPECT_FALSE(expected.has_value()) << *expected;
        else
            EXPECT_EQ(expected, std::optional<uint32_t>(c.expected));
    }
}

} // namespace
