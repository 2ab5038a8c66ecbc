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

} // namespace
