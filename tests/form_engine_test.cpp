// The stand-in host's form engine, run on the plug-in's own FormTable: what
// it draws into the screen buffer, where typed dates land, which codes the
// forms end with, and how the list talks to its callbacks.
//
// Plain C++: builds for Windows (run under Wine) and for the build machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "host/forms.h"
#include "mmimport/form_table.h"
#include "hostapi/mazovia.h"

namespace {

using host::Attr;
using host::Screen;
namespace key = host::key;

constexpr uint8_t kVertical = 0xB3; // column separator

std::string Pad(const std::string &text, size_t width)
{
    return text + std::string(width - text.size(), ' ');
}
std::string PadLeft(const std::string &text, size_t width)
{
    return std::string(width - text.size(), ' ') + text;
}

class FormEngineTest : public ::testing::Test {
protected:
    void Type(const std::string &text)
    {
        for (char c : text)
            keys.push_back(key::Char(c));
    }
    int16_t RunForm(int32_t formId, char *data = nullptr, host::FormKeyCallback onKey = nullptr,
                    host::FormRowCallback rows = nullptr)
    {
        EXPECT_TRUE(engine.Find(FormTable, formId)) << formId;
        return engine.Run(data, onKey, rows);
    }
    // Attributes of `count` cells from (x, y).
    std::vector<Attr> Attrs(int x, int y, int count) const
    {
        std::vector<Attr> out;
        for (int i = 0; i < count; ++i)
            out.push_back(screen.At(x + i, y).attr);
        return out;
    }

    Screen screen;
    std::deque<uint16_t> keys;
    host::FormEngine engine{screen, keys};
};

// DateRangeForm, 61 x 7, stands centred: its top-left corner at (9, 9).
constexpr int kDateX = 9, kDateY = 9;

TEST_F(FormEngineTest, DateDialogDrawsFrameTitleLabelsAndButton)
{
    keys = {key::Esc};
    RunForm(DateRangeFormId);

    EXPECT_EQ(screen.At(kDateX, kDateY), (host::Cell{0xC9, Attr::Frame}));
    EXPECT_EQ(screen.At(kDateX + 60, kDateY), (host::Cell{0xBB, Attr::Frame}));
    EXPECT_EQ(screen.At(kDateX, kDateY + 6), (host::Cell{0xC8, Attr::Frame}));
    EXPECT_EQ(screen.At(kDateX + 60, kDateY + 6), (host::Cell{0xBC, Attr::Frame}));
    EXPECT_EQ(screen.At(kDateX, kDateY + 3).ch, 0xBA);

    const std::string title = " Podaj daty (wystawienia) graniczne dla dok. MM ";
    int titleX = kDateX + (61 - static_cast<int>(title.size())) / 2;
    EXPECT_EQ(screen.Chars(titleX, kDateY, static_cast<int>(title.size())), title);
    EXPECT_EQ(screen.At(titleX + 1, kDateY).attr, Attr::Title);

    // The labels are right-aligned in their 13 cells; the key name is
    // highlighted and the control bytes take no cell.
    struct Label {
        int column;
        std::string text;
    };
    for (const Label &label : {Label{1, "F3 Okres Od"}, Label{31, "F4 Okres Do"}}) {
        SCOPED_TRACE(label.text);
        int y = kDateY + 2, x = kDateX + label.column;
        EXPECT_EQ(screen.Chars(x, y, 13), "  " + label.text);
        std::vector<Attr> expected(13, Attr::Normal);
        expected[2] = expected[3] = Attr::Highlight;
        EXPECT_EQ(Attrs(x, y, 13), expected);
    }

    // The OK button, left-aligned, its key name in the second highlight.
    EXPECT_EQ(screen.Chars(kDateX + 25, kDateY + 4, 10), "F12 OK    ");
    EXPECT_EQ(Attrs(kDateX + 25, kDateY + 4, 4),
              (std::vector<Attr>{Attr::KeyName, Attr::KeyName, Attr::KeyName, Attr::Normal}));

    // The edit fields: 13 cells each, the first one focused.
    EXPECT_EQ(Attrs(kDateX + 17, kDateY + 2, 13), std::vector<Attr>(13, Attr::FieldFocus));
    EXPECT_EQ(Attrs(kDateX + 45, kDateY + 2, 13), std::vector<Attr>(13, Attr::Field));
}

const std::map<std::string, uint16_t> kNamedKeys = {
    {"<F3>", key::F3},         {"<F4>", key::F4},   {"<Tab>", key::Tab},
    {"<BS>", key::Backspace}, {"<F12>", key::F12}, {"<Esc>", key::Esc},
};

TEST_F(FormEngineTest, DateDialogStoresTypedDatesAtOffsetsZeroAndNine)
{
    struct Case {
        const char *name;
        // Texts typed, or the keys "<F3>", "<F4>", "<Tab>", "<BS>", "<F12>", "<Esc>".
        std::vector<std::string> script;
        int16_t result;
        const char *from;
        const char *to;
    };
    const Case cases[] = {
        {"first field, F4, second field, F12", {"01.02.24", "<F4>", "28.02.24", "<F12>"},
         FormConfirmed, "01.02.24", "28.02.24"},
        {"F4 first, then F3", {"<F4>", "31.12.24", "<F3>", "01.01.24", "<F12>"}, FormConfirmed,
         "01.01.24", "31.12.24"},
        {"Tab moves to the next field", {"1", "<Tab>", "2", "<F12>"}, FormConfirmed, "1", "2"},
        {"at most 8 characters", {"123456789", "<F4>", "ABCDEFGHIJ", "<F12>"}, FormConfirmed,
         "12345678", "ABCDEFGH"},
        {"backspace takes the last character", {"1234", "<BS>", "5", "<F12>"}, FormConfirmed,
         "1235", ""},
        {"confirmed empty", {"<F12>"}, FormConfirmed, "", ""},
        {"Esc", {"01.02.24", "<Esc>"}, host::FormCancelled, "01.02.24", ""},
        {"keys run out", {"01.02.24"}, host::FormCancelled, "01.02.24", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        keys.clear();
        for (const std::string &step : c.script) {
            auto named = kNamedKeys.find(step);
            if (named != kNamedKeys.end())
                keys.push_back(named->second);
            else
                Type(step);
        }
        // The 18 bytes cleared as the plug-in clears them, and one more
        // byte that must stay as it is: full texts are cut at 8 characters
        // and terminated within their 9 bytes.
        char data[19];
        std::memset(data, 0, 18);
        data[18] = 0x7F;
        EXPECT_EQ(RunForm(DateRangeFormId, data), c.result);
        EXPECT_STREQ(data, c.from);
        EXPECT_STREQ(data + 9, c.to);
        EXPECT_EQ(data[18], 0x7F);
        EXPECT_TRUE(keys.empty());
        // The screen shows what was typed in the fields.
        EXPECT_EQ(screen.Chars(kDateX + 17, kDateY + 2, 8), Pad(c.from, 8));
        EXPECT_EQ(screen.Chars(kDateX + 45, kDateY + 2, 8), Pad(c.to, 8));
    }
}

// MmListForm, 78 x 18, stands at (1, 3); its list at (3, 7), 74 x 9, the
// column headings on the line above.
constexpr int kListX = 3, kListY = 7, kHeadingY = 6;

struct ListRow {
    bool marked;
    std::string number, description, value, date;
};

// A stand-in for the plug-in's side of the list, as OnListKey and
// ListRowText do it.
struct ListSide {
    std::vector<ListRow> rows;
    std::vector<int16_t> keysSeen;
    std::vector<int16_t> rowsSeen; // current row at each Insert
    host::FormEngine *engine = nullptr;
    std::string text;
};
ListSide *side;

int16_t FORM_CALLBACK OnKey(int16_t code, int16_t)
{
    side->keysSeen.push_back(code);
    if (code != InsertKey)
        return 0;
    if (side->rows.empty())
        return MmListElementId;
    int16_t *current = side->engine->Value(MmListElementId);
    side->rowsSeen.push_back(*current);
    side->rows[*current].marked = !side->rows[*current].marked;
    *current = static_cast<int16_t>((*current + 1) % side->rows.size());
    return MmListElementId;
}

intptr_t FORM_CALLBACK RowText(int16_t row, int32_t)
{
    if (row == -1)
        return static_cast<intptr_t>(side->rows.size());
    const ListRow &r = side->rows.at(row);
    side->text = std::string(r.marked ? "*" : " ") + "\r" + r.number + "\r" + r.description +
                 "\r" + r.value + "\r" + r.date;
    return reinterpret_cast<intptr_t>(side->text.c_str());
}

class ListTest : public FormEngineTest {
protected:
    void SetUp() override
    {
        list.engine = &engine;
        side = &list;
    }
    void TearDown() override { side = nullptr; }
    int16_t RunList() { return RunForm(MmListFormId, nullptr, &OnKey, &RowText); }
    int CursorLine() const
    {
        int found = -1;
        for (int i = 0; i < 9; ++i)
            if (screen.At(kListX + 1, kListY + i).attr == Attr::RowCursor)
                found = found < 0 ? i : 100;
        return found;
    }
    ListSide list;
};

TEST_F(ListTest, RowsAndHeadingsAreLaidOutByColumnSpec)
{
    const std::string longDescription(MAZOVIA("Opis dłuższy niż kolumna, ucięty"));
    list.rows = {
        {false, "MM/1/2024", "Pierwszy", "123.46", "05.01.2024"},
        {true, "MM/00002/2024/ABCD", longDescription, "1234567.89", "06.01.2024"},
    };
    keys = {key::Esc};
    EXPECT_EQ(RunList(), host::FormCancelled);

    // Widths 3, 17, 30, 15 and 12 with a separator cell between them are
    // 81 cells; the list is 74 wide, so "Opis" (the minus-sign width)
    // gives up 7 cells and keeps 23.
    auto line = [](const std::string &mark, const std::string &number,
                   const std::string &description, const std::string &value,
                   const std::string &date) {
        const std::string bar(1, static_cast<char>(kVertical));
        return Pad(mark, 3) + bar + Pad(number, 17) + bar + Pad(description.substr(0, 23), 23) +
               bar + PadLeft(value, 15) + bar + Pad(date, 12);
    };
    EXPECT_EQ(screen.Chars(kListX, kHeadingY, 74),
              line("", "Numer MM", "Opis", std::string(MAZOVIA("Wartość zak.br.")), "Data wyst."));
    EXPECT_EQ(screen.Chars(kListX, kListY, 74),
              line(" ", "MM/1/2024", "Pierwszy", "123.46", "05.01.2024"));
    EXPECT_EQ(screen.Chars(kListX, kListY + 1, 74),
              line("*", "MM/00002/2024/ABC", longDescription, "1234567.89", "06.01.2024"));
    EXPECT_EQ(screen.Chars(kListX, kListY + 2, 74), std::string(74, ' '));

    const std::string title = " Wybierz dokumenty MM ";
    EXPECT_EQ(screen.Chars(1 + (78 - static_cast<int>(title.size())) / 2, 3,
                           static_cast<int>(title.size())),
              title);
    // The Insert button is centred in its 26 cells.
    EXPECT_EQ(screen.Chars(1 + 2, 3 + 13, 26), "  INSERT Zaznacz/Odznacz  ");
    EXPECT_EQ(screen.At(1 + 2 + 2, 3 + 13).attr, Attr::KeyName);
    EXPECT_EQ(CursorLine(), 0);
}

TEST_F(ListTest, InsertReachesTheKeyCallbackAndTheRowPointerMoves)
{
    for (int i = 0; i < 3; ++i)
        list.rows.push_back({false, "MM/" + std::to_string(i), "", "0.00", ""});
    struct Case {
        const char *name;
        std::vector<uint16_t> keys;
        std::vector<int16_t> rowsSeen;
        std::vector<bool> marked;
        int cursor;
    };
    const Case cases[] = {
        {"Insert on the first row", {key::Insert}, {0}, {true, false, false}, 1},
        {"Down, then Insert", {key::Down, key::Insert}, {1}, {false, true, false}, 2},
        {"Insert on the last row goes round", {key::End, key::Insert}, {2}, {false, false, true},
         0},
        {"Up stops at the first row", {key::Up, key::Up, key::Insert}, {0}, {true, false, false},
         1},
        {"Down stops at the last row", {key::Down, key::Down, key::Down, key::Insert}, {2},
         {false, false, true}, 0},
        {"Insert twice unmarks", {key::Insert, key::Up, key::Insert}, {0, 0},
         {false, false, false}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (ListRow &row : list.rows)
            row.marked = false;
        list.keysSeen.clear();
        list.rowsSeen.clear();
        keys.assign(c.keys.begin(), c.keys.end());
        keys.push_back(key::F12);

        EXPECT_EQ(RunList(), FormConfirmed);
        EXPECT_EQ(list.rowsSeen, c.rowsSeen);
        std::vector<bool> marked;
        for (const ListRow &row : list.rows)
            marked.push_back(row.marked);
        EXPECT_EQ(marked, c.marked);
        EXPECT_EQ(CursorLine(), c.cursor);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(screen.At(kListX, kListY + i).ch, c.marked[i] ? '*' : ' ') << "row " << i;
        // Every Insert reached the callback as 0x5200.
        EXPECT_EQ(std::count(list.keysSeen.begin(), list.keysSeen.end(), InsertKey),
                  static_cast<std::ptrdiff_t>(c.rowsSeen.size()));
    }
}

TEST_F(ListTest, EmptyListStillTakesInsertAndConfirms)
{
    keys = {key::Insert, key::Down, key::F12};
    EXPECT_EQ(RunList(), FormConfirmed);
    EXPECT_EQ(std::count(list.keysSeen.begin(), list.keysSeen.end(), InsertKey), 1);
    EXPECT_EQ(CursorLine(), -1);
}

TEST_F(ListTest, RowPointerOnlyForTheRunningList)
{
    list.rows = {{false, "A", "", "", ""}, {false, "B", "", "", ""}};
    struct Probe {
        static int16_t FORM_CALLBACK Key(int16_t code, int16_t)
        {
            if (code == InsertKey) {
                EXPECT_EQ(side->engine->Value(0x4002), nullptr);
                *side->engine->Value(MmListElementId) = 1;
                return MmListElementId;
            }
            return 0;
        }
    };
    keys = {key::Insert, key::Esc};
    EXPECT_TRUE(engine.Find(FormTable, MmListFormId));
    EXPECT_EQ(engine.Run(nullptr, &Probe::Key, &RowText), host::FormCancelled);
    EXPECT_EQ(CursorLine(), 1); // the write moved the cursor
    EXPECT_EQ(engine.Value(MmListElementId), nullptr); // not running any more
}

TEST_F(FormEngineTest, ProcessingLineShowsFortyDigitsInItsAttributes)
{
    RunForm(ProcessingFormId); // no keys: drawn, then left
    // 48 x 5 at (16, 10); the line at column 4, line 2.
    const int x = 16 + 4, y = 10 + 2;
    EXPECT_EQ(screen.Chars(x, y, 40), "1234567890123456789012345678901234567890");
    std::vector<Attr> expected;
    expected.insert(expected.end(), 10, Attr::Normal);
    expected.insert(expected.end(), 10, Attr::KeyName);
    expected.insert(expected.end(), 5, Attr::Highlight);
    expected.insert(expected.end(), 5, Attr::Third);
    expected.insert(expected.end(), 10, Attr::Fourth);
    EXPECT_EQ(Attrs(x, y, 40), expected);
    EXPECT_EQ(screen.At(16 + 3, 10 + 1), (host::Cell{0xDA, Attr::Frame})); // the box
    EXPECT_EQ(screen.Chars(16, 10, 48).find(" Przetwarzanie "), size_t{16});
}

TEST_F(FormEngineTest, UnknownFormsAndBrokenTablesAreNotRun)
{
    EXPECT_FALSE(engine.Find(FormTable, 1004));
    EXPECT_FALSE(engine.Find(nullptr, DateRangeFormId));
    // A record whose body runs past the table's length.
    unsigned char broken[FormTableSize];
    std::memcpy(broken, FormTable, sizeof broken);
    broken[4] = 0xFF;
    broken[5] = 0x7F;
    EXPECT_FALSE(engine.Find(broken, MmListFormId));
    // A total length that covers the first record only.
    std::memcpy(broken, FormTable, sizeof broken);
    broken[0] = 124;
    broken[1] = 0;
    EXPECT_TRUE(engine.Find(broken, ProcessingFormId));
    EXPECT_FALSE(engine.Find(broken, DateRangeFormId));
}

} // namespace
