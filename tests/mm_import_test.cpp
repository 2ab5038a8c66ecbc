// The MM-to-sales command end to end: the real Tolmar.dll in the stand-in
// host, with host tables, keys and faults as data, checked against the rows,
// messages and service trace they must give. After every case nothing may be
// left on the host's heap, and no scan or found set may stay open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "host/dates.h"
#include "host/forms.h"
#include "host/mazovia.h"
#include "host/stand_in_host.h"
#include "mmimport/items.h"
#include "mmimport/records.h"
#include "mmimport/selection.h"
#include "tests/dll_symbols.h"
#include "tests/pe_imports.h"
#include "tests/system_boxes.h"

namespace {

namespace key = host::key;
using host::MmHeaderSpec;
using host::MmItemSpec;
using Msg = std::tuple<std::string, std::string, int32_t>;

// Polish text as the host sees it, in Mazovia.
std::string M(std::string_view utf8) { return host::Utf8ToMazovia(utf8); }

// The command's texts.
const std::string kBlad = M("Błąd");
const std::string kDiskError = M("Błąd operacji dyskowej!");
const std::string kListGrowError = M("Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!");
const std::string kItemTablesError = M("Błąd operacji dyskowej w PobierzPozDokumentu!");
const std::string kItemGrowError =
    M("Błąd podczas alokowania pamięci w PobierzPozDokumentu!\nOperacja niekompletna!");
const std::string kSeekError = M("Błąd w od_fseek w PobierzPozDokumentu");
const std::string kWait = M("Proszę czekać!");
const std::string kNothingToMark = M("Brak dokumentów do zaznaczenia!");
const std::string kNoRoom = M("Więcej pozycji nie zmieści się w tym dokumencie !");

constexpr int16_t kEditorValue = -3; // passed on sign-extended
const std::string kRefresh = "HostEditorRefresh(-3, 45, rows, rowCount, 8, 0x4100, 0, 1, 0, 0, 0, 0)";

std::string ListBlock(int entries, const char *from, int name)
{
    return std::string("HostRealloc(") + from + ", " + std::to_string(entries * sizeof(MmDocEntry)) +
           ") -> #" + std::to_string(name);
}
std::string ItemBlock(int items, const char *from, int name)
{
    return std::string("HostRealloc(") + from + ", " + std::to_string(items * sizeof(MmItem)) +
           ") -> #" + std::to_string(name);
}

// One loaded and started plug-in in its own stand-in host.
class Session {
public:
    Session()
    {
        loaded = h.Load();
        EXPECT_TRUE(loaded) << "Tolmar.dll";
        // TOLMAR_HOST_ENV=dos (this program's DOS run): under the extender.
        EXPECT_EQ(h.dosExtender() != nullptr, h.loadOptions.dosExtender);
        h.profile["Tolmar/Pytaj"] = "1"; // no installation notice
        if (loaded) {
            EXPECT_EQ(h.Start(nullptr), 0);
        }
        h.trace.clear();
        h.messages.clear();
        h.data.SetRows(8);
    }
    ~Session()
    {
        if (loaded) {
            // Between commands the module's two lists hold no storage and
            // no entries.
            dll::Symbols symbols(h.module());
            const auto *docs = symbols.At<const MmDocListStorage>("_MmDocList");
            const auto *items = symbols.At<const MmSelectionStorage>("_MmSelection");
            EXPECT_EQ(docs->entries, nullptr) << "MmDocList";
            EXPECT_EQ(docs->count, 0) << "MmDocList";
            EXPECT_EQ(docs->capacity, 0) << "MmDocList";
            EXPECT_EQ(items->items, nullptr) << "MmSelection";
            EXPECT_EQ(items->count, 0) << "MmSelection";
            EXPECT_EQ(items->capacity, 0) << "MmSelection";
            EXPECT_EQ(h.Stop(), 0);
        }
        EXPECT_EQ(h.data.Held(), "") << "left on the host after the command";
        EXPECT_TRUE(h.systemBoxes.empty()) << "no binding report";
    }

    // A document with one item whose long text is the document's number.
    void Doc(int32_t docKey, const std::string &date, int16_t warehouse = 1)
    {
        std::string number = "MM/" + date;
        h.data.AddHeader({docKey, date, number, "Opis " + number, 10000, warehouse, 1});
        h.data.AddItem({.docKey = docKey, .longText = number});
    }
    // Document 10, "MM/1", with one item for each long text, in that order.
    void DocWithItems(std::initializer_list<const char *> longTexts)
    {
        h.data.AddHeader({10, "20240105", "MM/1", "", 0, 1, 1});
        for (const char *text : longTexts)
            h.data.AddItem({.docKey = 10, .longText = text});
    }

    void Dates(const std::string &from, const std::string &to)
    {
        h.Type(from);
        h.keys.push_back(key::Tab);
        h.Type(to);
        h.keys.push_back(key::F12);
    }
    void Press(std::initializer_list<uint16_t> keys) { h.keys.insert(h.keys.end(), keys); }
    // Marks every row of a list of n rows and confirms it: the last row
    // first, whose Insert takes the cursor round to the top, then the others
    // from the top.
    void MarkAll(int n)
    {
        if (n > 0)
            Press({key::End, key::Insert});
        for (int i = 1; i < n; ++i)
            Press({key::Insert});
        Press({key::F12});
    }

    int32_t Raise()
    {
        return h.RaiseEvent(234, kEditorValue, &h.data.rowCount, h.data.rows.data(), 5,
                            &h.salesDoc, 6, 8, 9, 10, 11);
    }
    bool PassedOn()
    {
        host::HandlerCall expected{234, kEditorValue, &h.data.rowCount, h.data.rows.data(),
                                   5, &h.salesDoc, 6, 8, 9, 10, 11};
        return h.handlerCalls.size() == 1 && h.handlerCalls[0] == expected;
    }

    // The trace without the binding's look-ups and the list's row pointer.
    std::vector<std::string> Trace() const
    {
        std::vector<std::string> out;
        for (const std::string &line : h.trace)
            if (line.rfind("HostQuery(", 0) != 0 && line.rfind("HostFormValue(", 0) != 0)
                out.push_back(line);
        return out;
    }
    int Count(const std::string &line) const
    {
        std::vector<std::string> t = Trace();
        return static_cast<int>(std::count(t.begin(), t.end(), line));
    }
    int CountPrefix(const std::string &prefix) const
    {
        int n = 0;
        for (const std::string &line : Trace())
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
    std::vector<Msg> Messages() const
    {
        std::vector<Msg> out;
        for (const host::Message &m : h.messages)
            out.emplace_back(m.title, m.text, m.style);
        return out;
    }
    // The long texts of all rows; "" for a row never written.
    std::vector<std::string> RowTexts()
    {
        std::vector<std::string> out;
        for (int32_t i = 0; i < h.data.rowCount; ++i)
            out.push_back(h.data.Row(i).longText);
        return out;
    }
    static std::vector<std::string> Padded(std::vector<std::string> texts, size_t rows)
    {
        texts.resize(rows);
        return texts;
    }
    bool OnScreen(const std::string &text) const
    {
        for (int y = 0; y < host::Screen::Height; ++y)
            if (h.screen.Line(y).find(text) != std::string::npos)
                return true;
        return false;
    }

    host::StandInHost h;
    bool loaded = false;
};

// The command with no list at all: the dialog cancelled in several ways.
TEST(MmImport, CancelledDialogListsNothingAndStillRefreshes)
{
    struct Case {
        const char *name;
        std::vector<uint16_t> keys;
    };
    const Case cases[] = {
        {"Esc", {key::Esc}},
        {"no key at all", {}},
        {"dates typed, then Esc", {'0', '1', key::Tab, '0', '2', key::Esc}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        s.Doc(1, "20240105");
        s.h.keys.assign(c.keys.begin(), c.keys.end());
        EXPECT_EQ(s.Raise(), s.h.handlerResult);
        EXPECT_TRUE(s.PassedOn());
        EXPECT_EQ(s.Trace(), (std::vector<std::string>{
                                 "HostRunForm(1003)",
                                 "HostGetTable(44)",
                                 "HostOpenTable(44, 106)",
                                 "HostRowsDone(rows, 8, record44, 0, 0)",
                                 kRefresh,
                             }));
        EXPECT_TRUE(s.Messages().empty());
        EXPECT_EQ(s.RowTexts(), std::vector<std::string>(8));
    }
}

// A whole run: two documents listed in date order, both marked, their items
// placed in the first free rows; every service call in its place.
TEST(MmImport, FullRunPlacesItemsOfMarkedDocumentsInDateOrder)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    auto &d = s.h.data;
    // The scan delivers the later document first.
    d.AddHeader({11, "20240110", "MM/2/24", "Drugi", 20000, -2, 1});
    d.AddHeader({10, "20240105", "MM/1/24", "Pierwszy", 1234567, 3, 1});
    d.AddItem({.docKey = 10, .longText = M("Gwoździe 100 mm"), .shortText = "GW-100",
               .intValue = 4, .smallText = "kg", .priceOdd = 1234, .priceEven = 5678,
               .shortValue = 23, .presence = 1});
    d.AddItem({.docKey = 11, .longText = M("Śruby M6"), .shortText = "SR-6", .intValue = 12,
               .smallText = "szt", .priceOdd = 111, .priceEven = 990, .shortValue = 8,
               .presence = 2});
    d.SetRows(5);
    s.Dates("01.01.24", "31.01.24");
    s.Press({key::Insert, key::Insert, key::F12});

    EXPECT_EQ(s.Raise(), s.h.handlerResult);
    EXPECT_TRUE(s.PassedOn());
    std::vector<std::string> retrieve = {
        "HostGetTable(58)",       "HostGetTable(67)",       "HostGetTable(44)",
        "HostOpenTable(44, 106)", "HostOpenTable(58, 106)", "HostOpenTable(67, 255)",
    };
    std::vector<std::string> expected = {
        "HostRunForm(1003)",
        "HostGetTable(58)",
        "HostOpenTable(58, 255)",
        "HostMakeKey(124, 58, 0)",
        "HostScanFirst(58, 124, 0, 0, 0)",
        ListBlock(30, "null", 1),
        "HostScanEnd()",
        "HostMessageBox(\"Uwaga\", 512)",
        "HostCloseMessage()",
        "HostRunForm(1002)",
    };
    expected.insert(expected.end(), retrieve.begin(), retrieve.end());
    for (const std::string &line : {
             std::string("HostMakeKey(125, 67, 10)"),
             std::string("HostFindAll(125, 10, 67)"),
             std::string("HostReadFound(0, 0, 67, 0)"),
             ItemBlock(500, "null", 2),
             std::string("HostScaleAmount(5678, 100)"),
             std::string("HostFreeFound()"),
         })
        expected.push_back(line);
    expected.insert(expected.end(), retrieve.begin(), retrieve.end());
    for (const char *line : {
             "HostMakeKey(125, 67, 11)",
             "HostFindAll(125, 11, 67)",
             "HostReadFound(0, 0, 67, 0)",
             "HostScaleAmount(990, 100)",
             "HostFreeFound()",
             "HostGetTable(44)",
             "HostOpenTable(44, 106)",
             "HostPrepareRow(0, working, record44, 1)",
             "HostPrepareRow(0, working, record44, 1)",
             "HostRowsDone(rows, 5, record44, 0, 0)",
         })
        expected.push_back(line);
    expected.push_back(kRefresh);
    expected.push_back("HostFree(#1)");
    expected.push_back("HostFree(#2)");
    EXPECT_EQ(s.Trace(), expected);
    EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kWait, 0x200}}));

    const SalesDocRow &r0 = d.Row(0);
    EXPECT_STREQ(r0.longText, M("Gwoździe 100 mm").c_str());
    EXPECT_STREQ(r0.shortText, "GW-100");
    EXPECT_EQ(r0.intValue, 4);
    EXPECT_STREQ(r0.smallText, "kg");
    EXPECT_EQ(r0.shortValue, 23);
    EXPECT_STREQ(r0.warehouseText, "M3");
    EXPECT_EQ(r0.rowState, 0);
    EXPECT_DOUBLE_EQ(r0.price, 5678.0 / 100);
    EXPECT_EQ(r0.warehouseNo, 3);
    EXPECT_EQ(r0.presence, 1);
    EXPECT_EQ(r0.position, 0);
    const SalesDocRow &r1 = d.Row(1);
    EXPECT_STREQ(r1.longText, M("Śruby M6").c_str());
    EXPECT_STREQ(r1.warehouseText, "M-2");
    EXPECT_EQ(r1.warehouseNo, -2);
    EXPECT_DOUBLE_EQ(r1.price, 990.0 / 100);
    EXPECT_EQ(r1.presence, 2);
    EXPECT_EQ(r1.position, 1);
    EXPECT_EQ(s.RowTexts()[2], "");
    EXPECT_EQ(s.h.salesDoc.cursorRow, 1);
}

// Which documents the list holds, and in which order.
TEST(MmImport, ListHoldsDocumentsInRangeSortedByDate)
{
    struct Doc {
        int32_t key;
        const char *date;
        int32_t listable;
    };
    struct Case {
        const char *name;
        const char *from, *to;
        std::vector<Doc> docs; // in scan order
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {"both bounds are inclusive", "05.01.24", "20.01.24",
         {{1, "20240104", 1}, {2, "20240105", 1}, {3, "20240112", 1}, {4, "20240120", 1},
          {5, "20240121", 1}},
         {"MM/20240105", "MM/20240112", "MM/20240120"}},
        {"a header with key 0 or value 0 is never listed", "01.01.24", "31.01.24",
         {{0, "20240110", 1}, {6, "20240111", 0}, {7, "20240112", 1}, {8, "20240113", -1}},
         {"MM/20240112", "MM/20240113"}},
        {"scan order reversed", "01.01.24", "31.01.24",
         {{4, "20240120", 1}, {3, "20240115", 1}, {2, "20240110", 1}, {1, "20240105", 1}},
         {"MM/20240105", "MM/20240110", "MM/20240115", "MM/20240120"}},
        {"across the century", "31.12.99", "02.01.00",
         {{1, "20000103", 1}, {2, "20000102", 1}, {3, "19991231", 1}, {4, "20000101", 1},
          {5, "19991230", 1}},
         {"MM/19991231", "MM/20000101", "MM/20000102"}},
        {"an empty lower bound takes everything up to the upper", "", "10.01.24",
         {{1, "20240111", 1}, {2, "20240110", 1}, {3, "19990101", 1}, {4, "2024AB01", 1}},
         {"MM/2024AB01", "MM/19990101", "MM/20240110"}},
        {"an empty upper bound lists nothing", "01.01.24", "",
         {{1, "20240105", 1}},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        for (const Doc &doc : c.docs) {
            std::string number = std::string("MM/") + doc.date;
            s.h.data.AddHeader({doc.key, doc.date, number, "Opis", 10000, 1, doc.listable});
            s.h.data.AddItem({.docKey = doc.key, .longText = number});
        }
        s.Dates(c.from, c.to);
        s.MarkAll(static_cast<int>(c.listed.size()));
        s.Raise();
        EXPECT_EQ(s.RowTexts(), Session::Padded(c.listed, 8));
        for (const Doc &doc : c.docs) {
            std::string number = std::string("MM/") + doc.date;
            bool listed = std::find(c.listed.begin(), c.listed.end(), number) != c.listed.end();
            EXPECT_EQ(s.OnScreen(number), listed) << number;
        }
        EXPECT_TRUE(s.PassedOn());
    }
}

// No document in the range: an empty list, no waiting message, Insert warns
// and the list stays open, confirming reads nothing.
TEST(MmImport, EmptyListWarnsOnInsertAndReadsNothing)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    s.Doc(1, "20231231");
    s.Doc(2, "20240201");
    s.Dates("01.01.24", "31.01.24");
    s.Press({key::Insert, key::F12});
    EXPECT_EQ(s.Raise(), s.h.handlerResult);
    EXPECT_TRUE(s.PassedOn());
    EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kNothingToMark, 1}}));
    EXPECT_EQ(s.Trace(), (std::vector<std::string>{
                             "HostRunForm(1003)",
                             "HostGetTable(58)",
                             "HostOpenTable(58, 255)",
                             "HostMakeKey(124, 58, 0)",
                             "HostScanFirst(58, 124, 0, 0, 0)",
                             "HostScanEnd()",
                             "HostRunForm(1002)",
                             "HostMessageBox(\"Uwaga\", 1)",
                             "HostGetTable(44)",
                             "HostOpenTable(44, 106)",
                             "HostRowsDone(rows, 8, record44, 0, 0)",
                             kRefresh,
                         }));
    EXPECT_EQ(s.RowTexts(), std::vector<std::string>(8));
}

// The 31st document grows the list from 30 to 60 entries; the 30 before it
// come through unchanged, in order.
TEST(MmImport, ThirtyFirstDocumentGrowsTheList)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    std::vector<std::string> expected;
    for (int day = 31; day >= 1; --day) { // scan order: latest first
        char date[16];
        std::snprintf(date, sizeof date, "202401%02d", day);
        s.Doc(100 + day, date);
    }
    for (int day = 1; day <= 31; ++day) {
        char number[16];
        std::snprintf(number, sizeof number, "MM/202401%02d", day);
        expected.push_back(number);
    }
    s.h.data.SetRows(40);
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(31);
    s.Raise();
    std::vector<std::string> t = s.Trace();
    EXPECT_EQ(std::count(t.begin(), t.end(), ListBlock(30, "null", 1)), 1);
    EXPECT_EQ(std::count(t.begin(), t.end(), ListBlock(60, "#1", 2)), 1);
    EXPECT_EQ(s.RowTexts(), Session::Padded(expected, 40));
    EXPECT_EQ(s.Count("HostFree(#2)"), 1);
}

// Insert marks the current row and moves on, from the last row to the
// first; on a marked row it unmarks.
TEST(MmImport, InsertTogglesAndWrapsRound)
{
    struct Case {
        const char *name;
        std::vector<uint16_t> keys;
        std::vector<std::string> placed;
    };
    const Case cases[] = {
        {"last row, then round to the first", {key::End, key::Insert, key::Insert, key::F12},
         {"MM/20240105", "MM/20240115"}},
        {"a marked row is unmarked",
         {key::End, key::Insert, key::Insert, key::Up, key::Insert, key::F12},
         {"MM/20240115"}},
        {"three Inserts from the top mark all three", {key::Insert, key::Insert, key::Insert, key::F12},
         {"MM/20240105", "MM/20240110", "MM/20240115"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        s.Doc(1, "20240105");
        s.Doc(2, "20240110");
        s.Doc(3, "20240115");
        s.Dates("01.01.24", "31.01.24");
        s.h.keys.insert(s.h.keys.end(), c.keys.begin(), c.keys.end());
        s.Raise();
        EXPECT_EQ(s.RowTexts(), Session::Padded(c.placed, 8));
    }
}

// Leaving the list without confirming releases the list at once, before
// the handler goes on.
TEST(MmImport, LeavingTheListReleasesItAtOnce)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    s.Doc(1, "20240105");
    s.Doc(2, "20240110");
    s.Dates("01.01.24", "31.01.24");
    s.Press({key::Insert, key::Esc});
    EXPECT_EQ(s.Raise(), s.h.handlerResult);
    std::vector<std::string> t = s.Trace();
    auto list = std::find(t.begin(), t.end(), "HostRunForm(1002)");
    ASSERT_NE(list, t.end());
    EXPECT_EQ(std::vector<std::string>(list, t.end()), (std::vector<std::string>{
                                                           "HostRunForm(1002)",
                                                           "HostFree(#1)",
                                                           "HostGetTable(44)",
                                                           "HostOpenTable(44, 106)",
                                                           "HostRowsDone(rows, 8, record44, 0, 0)",
                                                           kRefresh,
                                                       }));
    EXPECT_EQ(s.CountPrefix("HostFindAll("), 0);
    EXPECT_TRUE(s.PassedOn());
}

// The price flag of the sales document's header picks the price.
TEST(MmImport, PriceFlagPicksThePrice)
{
    struct Case {
        int16_t flag;
        int32_t whole;
    };
    const Case cases[] = {{1, 1234}, {-1, 1234}, {3, 1234}, {0, 5678}, {2, 5678}, {-2, 5678}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flag);
        Session s;
        ASSERT_TRUE(s.loaded);
        s.h.data.AddHeader({10, "20240105", "MM/1", "", 0, 1, 1});
        s.h.data.AddItem({.docKey = 10, .longText = "x", .priceOdd = 1234, .priceEven = 5678});
        s.h.data.SalesHeader().priceFlag = c.flag;
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(1);
        s.Raise();
        EXPECT_EQ(s.Count("HostScaleAmount(" + std::to_string(c.whole) + ", 100)"), 1);
        EXPECT_EQ(s.CountPrefix("HostScaleAmount("), 1);
        EXPECT_DOUBLE_EQ(s.h.data.Row(0).price, c.whole / 100.0);
    }
}

// Items whose presence value is 0 are not taken; positions count taken
// items only.
TEST(MmImport, ItemsWithoutPresenceAreSkipped)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    auto &d = s.h.data;
    d.AddHeader({1, "20240105", "MM/1", "", 0, 1, 1});
    d.AddHeader({2, "20240106", "MM/2", "", 0, 1, 1});
    d.AddItem({.docKey = 1, .longText = "a", .presence = 1});
    d.AddItem({.docKey = 1, .longText = "b", .presence = 0});
    d.AddItem({.docKey = 1, .longText = "c", .presence = -4});
    d.AddItem({.docKey = 2, .longText = "d", .presence = 0});
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(2);
    s.Raise();
    EXPECT_EQ(s.RowTexts(), Session::Padded({"a", "c"}, 8));
    EXPECT_EQ(d.Row(1).presence, -4);
    EXPECT_EQ(d.Row(1).position, 1);
    EXPECT_EQ(s.CountPrefix("HostReadFound("), 4);
}

// The 501st item grows the selection from 500 to 1000 items; the 500 before
// it come through unchanged.
TEST(MmImport, FiveHundredFirstItemGrowsTheSelection)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    auto &d = s.h.data;
    d.AddHeader({1, "20240105", "MM/1", "", 0, 1, 1});
    std::vector<std::string> expected;
    for (int i = 0; i < 501; ++i) {
        expected.push_back(std::string("P").append(std::to_string(i)));
        d.AddItem({.docKey = 1, .longText = expected.back(), .intValue = i});
    }
    d.SetRows(505);
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(1);
    s.Raise();
    EXPECT_EQ(s.Count(ItemBlock(500, "null", 2)), 1);
    EXPECT_EQ(s.Count(ItemBlock(1000, "#2", 3)), 1);
    EXPECT_EQ(s.RowTexts(), Session::Padded(expected, 505));
    EXPECT_EQ(d.Row(500).intValue, 500);
    EXPECT_EQ(d.Row(500).position, 500);
    EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kWait, 0x200}}));
    EXPECT_EQ(s.Count("HostFree(#3)"), 1);
}

// A read failing at position 3 of a document of 10 keeps the document's
// first three items and goes on with the next marked document.
TEST(MmImport, FailedReadKeepsEarlierItemsAndGoesOn)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    auto &d = s.h.data;
    d.AddHeader({20, "20240120", "MM/B", "", 0, 1, 1});
    d.AddHeader({10, "20240110", "MM/A", "", 0, 1, 1});
    for (int i = 0; i < 10; ++i)
        d.AddItem({.docKey = 10, .longText = std::string("A").append(std::to_string(i))});
    d.AddItem({.docKey = 20, .longText = "B0"});
    d.AddItem({.docKey = 20, .longText = "B1"});
    d.failingReads = {{10, 3}};
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(2);
    s.Raise();
    EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kWait, 0x200}, {"uwaga", kSeekError, 1}}));
    EXPECT_EQ(s.RowTexts(), Session::Padded({"A0", "A1", "A2", "B0", "B1"}, 8));
    EXPECT_EQ(s.Count("HostFreeFound()"), 2);
    EXPECT_EQ(s.Count("HostReadFound(0, 4, 67, 0)"), 0);
}

// The text at 188 is "M" and the warehouse number of the item's document.
TEST(MmImport, WarehouseTextFollowsTheDocument)
{
    struct Case {
        int16_t warehouse;
        const char *text;
    };
    const Case cases[] = {{3, "M3"}, {-2, "M-2"}, {0, "M0"}, {32767, "M32767"}, {-32768, "M-32768"}};
    Session s;
    ASSERT_TRUE(s.loaded);
    int day = 1;
    for (const Case &c : cases) {
        char date[16];
        std::snprintf(date, sizeof date, "202401%02d", day);
        s.Doc(day++, date, c.warehouse);
    }
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(5);
    s.Raise();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_STREQ(s.h.data.Row(i).warehouseText, cases[i].text);
        EXPECT_EQ(s.h.data.Row(i).warehouseNo, cases[i].warehouse);
    }
}

// The row gets exactly the item's fields; every other byte is what the
// working record held.
TEST(MmImport, RowGetsTheItemFieldsAndKeepsTheRest)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    s.h.data.AddHeader({10, "20240105", "MM/1", "", 0, 3, 1});
    s.h.data.AddItem({.docKey = 10, .longText = M("Gwoździe"), .shortText = "GW",
                      .intValue = -7, .smallText = "kg", .priceOdd = 0, .priceEven = 5678,
                      .shortValue = 23, .presence = 9});
    std::memset(s.h.salesDoc.record, 0xEE, sizeof(SalesDocRow));
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(1);
    s.Raise();

    std::vector<uint8_t> expected(sizeof(SalesDocRow), 0xEE);
    auto &e = *reinterpret_cast<SalesDocRow *>(expected.data());
    std::strcpy(e.longText, M("Gwoździe").c_str());
    std::strcpy(e.shortText, "GW");
    e.intValue = -7;
    std::strcpy(e.smallText, "kg");
    e.shortValue = 23;
    std::strcpy(e.warehouseText, "M3");
    e.price = 5678 / 100.0;
    e.warehouseNo = 3;
    e.presence = 9;
    e.position = 0;
    EXPECT_EQ(s.h.data.rowStore[0], expected);
    ASSERT_EQ(s.h.data.preparedRows.size(), 1u);
    EXPECT_EQ(s.h.data.preparedRows[0], expected); // filled before the host completes it
}

// Texts longer than their fields in the host's records are cut to the
// fields of the command and of the row, and terminated.
TEST(MmImport, LongHostTextsAreCutToTheirFields)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    const std::string number(60, 'N');
    s.h.data.AddHeader({10, "20240105", number, std::string(250, 'D'), 0, 1, 1});
    s.h.data.AddItem({.docKey = 10, .longText = std::string(200, 'L'),
                      .shortText = std::string(30, 'S'), .smallText = std::string(40, 'm')});
    std::memset(s.h.salesDoc.record, 0xEE, sizeof(SalesDocRow));
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(1);
    s.Raise();
    const SalesDocRow &r = s.h.data.Row(0);
    EXPECT_EQ(std::string(r.longText, sizeof r.longText), std::string(120, 'L') + '\0');
    EXPECT_EQ(std::string(r.shortText, sizeof r.shortText), std::string(16, 'S') + '\0');
    EXPECT_EQ(std::string(r.smallText, 6), std::string(5, 'm') + '\0');
    EXPECT_EQ(static_cast<uint8_t>(r.smallText[6]), 0xEE); // the rest of the room untouched
    EXPECT_EQ(r.intValue, 0);
    // The list's number column shows the 16 characters the entry holds.
    EXPECT_TRUE(s.OnScreen(std::string(16, 'N') + " \xB3"));
    EXPECT_FALSE(s.OnScreen(std::string(17, 'N')));
}

// Rows with either 16-bit field set are never written; when no free row is
// left the rest is dropped with one "Blokada" message, and the working
// record keeps the first unplaced item.
TEST(MmImport, OnlyFreeRowsAreFilledAndTheRestIsBlocked)
{
    struct Case {
        const char *name;
        int16_t rowState, presence; // of row 1
    };
    const Case cases[] = {
        {"used by the field at 200", 1, 0},
        {"used by the field at 294", 0, 1},
        {"used by both", -1, 7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        auto &d = s.h.data;
        s.DocWithItems({"first", "second", "third", "fourth"});
        d.SetRows(3);
        d.Row(1).rowState = c.rowState;
        d.Row(1).presence = c.presence;
        std::strcpy(d.Row(1).longText, "used");
        const std::vector<uint8_t> used = d.rowStore[1];
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(1);
        EXPECT_EQ(s.Raise(), s.h.handlerResult);
        EXPECT_TRUE(s.PassedOn());
        EXPECT_EQ(s.RowTexts(), (std::vector<std::string>{"first", "used", "second"}));
        EXPECT_EQ(d.rowStore[1], used);
        EXPECT_EQ(d.Row(2).position, 1);
        EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kWait, 0x200}, {"Blokada", kNoRoom, 1}}));
        EXPECT_EQ(s.Count("HostPrepareRow(0, working, record44, 1)"), 3);
        EXPECT_EQ(s.Count("HostRowsDone(rows, 3, record44, 0, 0)"), 1);
        auto &working = *reinterpret_cast<SalesDocRow *>(s.h.salesDoc.record);
        EXPECT_STREQ(working.longText, "third");
        EXPECT_EQ(working.position, 2);
        EXPECT_EQ(s.h.salesDoc.cursorRow, 2);
    }
}

// Rows the host gives no storage for are never written: no row array at
// all, a row whose pointer is null, or no row count to search up to.
TEST(MmImport, RowsWithoutStorageAreNeverWritten)
{
    struct Case {
        const char *name;
        bool rowArray, rowCount;
        int nullRow; // -1: none
        std::vector<std::string> rows;
        std::string rowsDone;
        bool blocked;
    };
    const Case cases[] = {
        {"no row array", false, true, -1, {"", "", ""}, "HostRowsDone(null, 3, record44, 0, 0)", true},
        {"a row without storage", true, true, 0, {"", "first", "second"},
         "HostRowsDone(rows, 3, record44, 0, 0)", false},
        {"no row count", true, false, -1, {"", "", ""}, "HostRowsDone(rows, 0, record44, 0, 0)", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        auto &d = s.h.data;
        s.DocWithItems({"first", "second"});
        d.SetRows(3);
        if (c.nullRow >= 0)
            d.rows[c.nullRow] = nullptr;
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(1);
        int32_t *rowCount = c.rowCount ? &d.rowCount : nullptr;
        uint8_t **rows = c.rowArray ? d.rows.data() : nullptr;
        EXPECT_EQ(s.h.RaiseEvent(234, kEditorValue, rowCount, rows, 5, &s.h.salesDoc, 6, 8, 9, 10,
                                 11),
                  s.h.handlerResult);
        ASSERT_EQ(s.h.handlerCalls.size(), 1u);
        EXPECT_EQ(s.h.handlerCalls[0].rows, rows);
        EXPECT_EQ(s.h.handlerCalls[0].rowCount, rowCount);
        EXPECT_EQ(s.RowTexts(), c.rows);
        EXPECT_EQ(s.Count(c.rowsDone), 1);
        std::vector<Msg> messages{{"Uwaga", kWait, 0x200}};
        if (c.blocked)
            messages.push_back({"Blokada", kNoRoom, 1});
        EXPECT_EQ(s.Messages(), messages);
    }
}

// The cursor row is set relative to the first row shown, and the row it
// designates is the free row found.
TEST(MmImport, CursorRowCountsFromTheFirstRowShown)
{
    struct Case {
        int32_t firstShown;
        int32_t freeRow;
        int32_t cursor;
    };
    const Case cases[] = {{0, 0, 0}, {4, 6, 2}, {8, 6, -2}, {2, 9, 7}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.firstShown << " " << c.freeRow);
        Session s;
        ASSERT_TRUE(s.loaded);
        auto &d = s.h.data;
        s.DocWithItems({"item"});
        d.SetRows(10);
        for (int32_t i = 0; i < c.freeRow; ++i)
            d.Row(i).presence = 1;
        s.h.salesDoc.firstRowShown = c.firstShown;
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(1);
        s.Raise();
        EXPECT_EQ(s.h.salesDoc.cursorRow, c.cursor);
        EXPECT_STREQ(d.Row(c.freeRow).longText, "item");
        for (int32_t i = 0; i < 10; ++i)
            if (i != c.freeRow) {
                EXPECT_STREQ(d.Row(i).longText, "") << i;
            }
    }
}

// Every failure of the command's data: its message byte for byte, what is
// still placed, and the event passed on.
TEST(MmImport, FailuresAreToldAndTheCommandGoesOn)
{
    struct Case {
        const char *name;
        std::function<void(Session &)> arrange;
        std::vector<Msg> messages;
        std::vector<std::string> placed;
        bool listShown;
    };
    // Two documents, A (earlier) and B, one item each; both get marked.
    auto two = [](Session &s) {
        s.Doc(1, "20240105");
        s.Doc(2, "20240110");
    };
    const Msg wait{"Uwaga", kWait, 0x200};
    const Case cases[] = {
        {"header table unavailable",
         [&](Session &s) { two(s); s.h.data.unavailable = {58}; },
         {{kBlad, kDiskError, 1}}, {}, false},
        {"no storage for the list",
         [&](Session &s) { two(s); s.h.data.failingReallocs = {1}; },
         {{kBlad, kListGrowError, 1}}, {}, false},
        {"no storage for the 31st document",
         [&](Session &s) {
             for (int day = 1; day <= 31; ++day) {
                 char date[16];
                 std::snprintf(date, sizeof date, "202401%02d", day);
                 s.Doc(day, date);
             }
             s.h.data.failingReallocs = {2};
         },
         {{kBlad, kListGrowError, 1}}, {}, false},
        {"item table unavailable",
         [&](Session &s) { two(s); s.h.data.unavailable = {67}; },
         {wait, {kBlad, kItemTablesError, 1}, {kBlad, kItemTablesError, 1}}, {}, true},
        {"nothing found",
         [&](Session &s) { two(s); s.h.data.findAllFindsNothing = true; },
         {wait}, {}, true},
        {"no storage for the first document's items",
         [&](Session &s) { two(s); s.h.data.failingReallocs = {2}; },
         {wait, {kBlad, kItemGrowError, 1}}, {"MM/20240110"}, true},
        {"no storage for either document's items",
         [&](Session &s) { two(s); s.h.data.failingReallocs = {2, 3}; },
         {wait, {kBlad, kItemGrowError, 1}, {kBlad, kItemGrowError, 1}}, {}, true},
        {"no free row at all",
         [&](Session &s) { two(s); s.h.data.SetRows(0); },
         {wait, {"Blokada", kNoRoom, 1}}, {}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        c.arrange(s);
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(2);
        EXPECT_EQ(s.Raise(), s.h.handlerResult);
        EXPECT_TRUE(s.PassedOn());
        EXPECT_EQ(s.Messages(), c.messages);
        EXPECT_EQ(s.RowTexts(), Session::Padded(c.placed, s.h.data.rowCount));
        EXPECT_EQ(s.Count("HostRunForm(1002)"), c.listShown ? 1 : 0);
        EXPECT_EQ(s.Count("HostScanFirst(58, 124, 0, 0, 0)"), s.Count("HostScanEnd()"));
        EXPECT_EQ(s.Count(kRefresh), 1);
    }
}

// Without table 44 the handler ends the event itself: message, result 0,
// nothing passed on, no row touched; the lists' storage still goes back.
TEST(MmImport, SalesHeaderTableUnavailableEndsTheEvent)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    s.Doc(1, "20240105");
    s.Doc(2, "20240110");
    s.h.data.unavailable = {44};
    s.Dates("01.01.24", "31.01.24");
    s.MarkAll(2);
    EXPECT_EQ(s.Raise(), 0);
    EXPECT_TRUE(s.h.handlerCalls.empty());
    EXPECT_EQ(s.Messages(), (std::vector<Msg>{{"Uwaga", kWait, 0x200},
                                              {kBlad, kItemTablesError, 1},
                                              {kBlad, kItemTablesError, 1},
                                              {kBlad, kItemTablesError, 1}}));
    std::vector<std::string> t = s.Trace();
    EXPECT_EQ(std::vector<std::string>(t.end() - 3, t.end()),
              (std::vector<std::string>{"HostGetTable(44)", "HostMessageBox(\"" + kBlad + "\", 1)",
                                        "HostFree(#1)"}));
    EXPECT_EQ(s.CountPrefix("HostRowsDone("), 0);
    EXPECT_EQ(s.CountPrefix("HostEditorRefresh("), 0);
    EXPECT_EQ(s.RowTexts(), std::vector<std::string>(8));
}

// A service the host lacks, its report answered with Ignore: the command
// runs on with the stub's 0 in place of the service's answer.
TEST(MmImport, IgnoredMissingServicesRunOnWithZero)
{
    struct Case {
        const char *name;
        uint32_t lacking;
        std::function<void(Session &)> documents;
        int listed;                       // rows the list shows, all marked
        std::vector<std::string> placed;  // long texts placed, in any order
        double price;                     // of every placed row
    };
    auto oneItem = [](Session &s) {
        s.h.data.AddHeader({10, "20240105", "MM/1", "", 0, 1, 1});
        s.h.data.AddItem({.docKey = 10, .longText = "new", .priceOdd = 500, .priceEven = 700});
        s.h.data.SalesHeader().priceFlag = 0;
    };
    auto threeMonths = [](Session &s) {
        s.Doc(1, "20231231");
        s.Doc(2, "20240105");
        s.Doc(3, "20240215");
    };
    const Case cases[] = {
        {"HostScaleAmount: every price 0.0", 52179, oneItem, 1, {"new"}, 0.0},
        // Every date compares equal: inside the range, in no particular order.
        {"HostCompareDates: every date counts as in range", 30908, threeMonths, 3,
         {"MM/20231231", "MM/20240105", "MM/20240215"}, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        ASSERT_TRUE(AnswerSystemBoxesFromTheHost(s.h));
        s.h.showSystemBox = [](const host::SystemBox &) { return IDIGNORE; };
        s.h.LackEntry(c.lacking);
        c.documents(s);
        s.Dates("01.01.24", "31.01.24");
        s.MarkAll(c.listed);
        s.Raise();

        EXPECT_TRUE(s.PassedOn());
        EXPECT_EQ(s.h.QueryCount(c.lacking), 1);
        ASSERT_FALSE(s.h.systemBoxes.empty());
        EXPECT_NE(s.h.systemBoxes.back().text.find(std::to_string(c.lacking)), std::string::npos)
            << s.h.systemBoxes.back().text;
        std::vector<std::string> placed;
        for (int32_t r = 0; r < s.h.data.rowCount; ++r)
            if (std::string text = s.h.data.Row(r).longText; !text.empty()) {
                placed.push_back(text);
                EXPECT_EQ(s.h.data.Row(r).price, c.price) << r;
            }
        std::sort(placed.begin(), placed.end());
        EXPECT_EQ(placed, c.placed);
        s.h.systemBoxes.clear(); // the reports this case expects
    }
}

// Events other than 234 go to the host's handler unchanged, and the
// plug-in calls no service for them.
TEST(MmImport, OtherEventsPassThrough)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    s.Doc(1, "20240105");
    for (int32_t event : {0, 233, 235, -234, 234 + 65536}) {
        SCOPED_TRACE(event);
        s.h.handlerCalls.clear();
        s.h.handlerResult = event ^ 0x55;
        EXPECT_EQ(s.h.RaiseEvent(event, kEditorValue, &s.h.data.rowCount, s.h.data.rows.data(),
                                 5, &s.h.salesDoc, 6, 8, 9, 10, 11),
                  event ^ 0x55);
        host::HandlerCall expected{event, kEditorValue, &s.h.data.rowCount, s.h.data.rows.data(),
                                   5, &s.h.salesDoc, 6, 8, 9, 10, 11};
        ASSERT_EQ(s.h.handlerCalls.size(), 1u);
        EXPECT_TRUE(s.h.handlerCalls[0] == expected);
    }
    EXPECT_TRUE(s.Trace().empty());
    EXPECT_TRUE(s.h.keys.empty());
}

// A scripted form service in place of the form engine, to hand the list's
// callbacks rows the engine would never ask for and to read row texts raw.
struct ScriptedForms {
    static inline std::string from, to;
    static inline std::function<int16_t(host::FormKeyCallback, host::FormRowCallback)> list;
    static inline int16_t row; // what HostFormValue points at

    static int16_t __cdecl RunForm(const void *, int32_t formId, void *data,
                                   host::FormKeyCallback onKey, ...)
    {
        host::StandInHost::Current().Record("HostRunForm(" + std::to_string(formId) + ")");
        if (formId == 1003) {
            auto *area = static_cast<char *>(data);
            std::strncpy(area, from.c_str(), 8);
            std::strncpy(area + 9, to.c_str(), 8);
            return 0x5001;
        }
        va_list args;
        va_start(args, onKey);
        auto rows = va_arg(args, host::FormRowCallback);
        va_end(args);
        return list ? list(onKey, rows) : host::FormCancelled;
    }
    static int16_t *__stdcall FormValue(int32_t) { return &row; }

    static void Install(Session &s)
    {
        from = "01.01.24";
        to = "31.01.24";
        list = nullptr;
        row = 0;
        s.h.serviceOverrides[52026] = reinterpret_cast<void *>(&RunForm);
        s.h.serviceOverrides[52033] = reinterpret_cast<void *>(&FormValue);
    }
};

std::string RowText(host::FormRowCallback rows, int16_t row)
{
    auto *text = reinterpret_cast<const char *>(rows(row, 0));
    if (!text)
        return "<null>";
    size_t n = strnlen(text, 600);
    EXPECT_LT(n, 512u) << "row " << row;
    return std::string(text, n);
}

std::vector<std::string> Fields(const std::string &text)
{
    std::vector<std::string> out(1);
    for (char c : text)
        if (c == '\r')
            out.emplace_back();
        else
            out.back() += c;
    return out;
}

// The row text: mark, number, description, value with two decimals, date.
TEST(MmImport, RowTextHasMarkNumberDescriptionValueAndDate)
{
    struct Case {
        const char *name;
        MmHeaderSpec header;
        bool mark;
        std::string text;
    };
    const Case cases[] = {
        {"unmarked", {10, "20240105", "MM/1/24", "Pierwszy", 1234567}, false,
         " \rMM/1/24\rPierwszy\r123.46\r05.01.2024"},
        {"marked", {10, "20240105", "MM/1/24", "Pierwszy", 1234567}, true,
         "*\rMM/1/24\rPierwszy\r123.46\r05.01.2024"},
        {"negative", {10, "20241231", "MM/9", "Zwrot", -50000}, false, " \rMM/9\rZwrot\r-5.00\r31.12.2024"},
        {"long texts cut", {10, "20240105", std::string(60, 'N'), std::string(250, 'D'), 0}, false,
         " \r" + std::string(16, 'N') + "\r" + std::string(120, 'D') + "\r0.00\r05.01.2024"},
        {"undated", {10, "2024AB01", "MM/X", "", 0}, false, " \rMM/X\r\r0.00\r??.??.????"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        ScriptedForms::Install(s);
        ScriptedForms::from = ""; // from the earliest
        ScriptedForms::to = "31.12.79";
        s.h.data.AddHeader(c.header);
        std::string text;
        int32_t count = -1;
        ScriptedForms::list = [&](host::FormKeyCallback onKey, host::FormRowCallback rows) {
            count = static_cast<int32_t>(rows(-1, 0));
            if (c.mark) {
                EXPECT_EQ(onKey(0x5200, 0), 0x4001);
            }
            text = RowText(rows, 0);
            return host::FormCancelled;
        };
        s.Raise();
        EXPECT_EQ(count, 1);
        EXPECT_EQ(text, c.text);
    }
}

// Whatever the value, the row text stays inside its buffer, terminated.
TEST(MmImport, RowTextOfExtremeValuesStaysInItsBuffer)
{
    struct Case {
        const char *name;
        double stored;
        const char *value; // pattern of the value field
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"5e300", 5e304, "[0-9]{301}\\.[0-9]{2}"},
        {"-5e300", -5e304, "-[0-9]{301}\\.[0-9]{2}"},
        {"largest", std::numeric_limits<double>::max(), "[0-9]{305}\\.[0-9]{2}"},
        {"NaN", std::numeric_limits<double>::quiet_NaN(), "-?nan"},
        {"infinite", inf, "inf"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        ScriptedForms::Install(s);
        s.h.data.AddHeader({10, "20240105", std::string(16, 'N'), std::string(120, 'D'), c.stored});
        std::string text;
        ScriptedForms::list = [&](host::FormKeyCallback, host::FormRowCallback rows) {
            text = RowText(rows, 0);
            return host::FormCancelled;
        };
        s.Raise();
        std::vector<std::string> f = Fields(text);
        ASSERT_EQ(f.size(), 5u) << text;
        EXPECT_EQ(f[1], std::string(16, 'N'));
        EXPECT_EQ(f[2], std::string(120, 'D'));
        EXPECT_TRUE(std::regex_match(f[3], std::regex(c.value))) << f[3];
        EXPECT_EQ(f[4], "05.01.2024");
    }
}

// Row numbers from the host outside the list change and read no entry.
TEST(MmImport, RowsOutsideTheListAreLeftAlone)
{
    struct Case {
        int16_t row;
        int16_t after;       // the row variable after Insert
        int32_t markedKey;   // key of the document read, 0 for none
    };
    const Case cases[] = {{3, 3, 0}, {100, 100, 0}, {-2, -2, 0}, {-32768, -32768, 0}, {1, 2, 2},
                          {2, 0, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row);
        Session s;
        ASSERT_TRUE(s.loaded);
        ScriptedForms::Install(s);
        s.Doc(1, "20240105");
        s.Doc(2, "20240110");
        s.Doc(3, "20240115");
        std::vector<std::string> texts;
        ScriptedForms::list = [&](host::FormKeyCallback onKey, host::FormRowCallback rows) {
            ScriptedForms::row = c.row;
            EXPECT_EQ(onKey(0x5200, 0), 0x4001);
            EXPECT_EQ(ScriptedForms::row, c.after);
            for (int16_t r : {int16_t(3), int16_t(-2), int16_t(32767), int16_t(-32768)})
                texts.push_back(RowText(rows, r));
            return static_cast<int16_t>(0x5001);
        };
        s.Raise();
        EXPECT_EQ(texts, std::vector<std::string>(4, ""));
        EXPECT_EQ(s.CountPrefix("HostMakeKey(125, "), c.markedKey ? 1 : 0);
        if (c.markedKey) {
            EXPECT_EQ(s.Count("HostMakeKey(125, 67, " + std::to_string(c.markedKey) + ")"), 1);
        }
    }
}

// A display date longer than the entry's field is cut there and spoils
// nothing after it: the document's key still finds its items.
TEST(MmImport, LongFormattedDateIsCutToItsField)
{
    Session s;
    ASSERT_TRUE(s.loaded);
    ScriptedForms::Install(s);
    s.Doc(10, "20240105");
    s.h.data.dateTextOverride = std::string(40, 'X');
    std::string text;
    ScriptedForms::list = [&](host::FormKeyCallback onKey, host::FormRowCallback rows) {
        EXPECT_EQ(onKey(0x5200, 0), 0x4001);
        text = RowText(rows, 0);
        return static_cast<int16_t>(0x5001);
    };
    s.Raise();
    EXPECT_EQ(Fields(text).back(), std::string(12, 'X'));
    EXPECT_EQ(text.front(), '*');
    EXPECT_EQ(s.Count("HostMakeKey(125, 67, 10)"), 1);
    EXPECT_STREQ(s.h.data.Row(0).longText, "MM/20240105");
}


// The list as the scripted list form reads it through the row callback: each
// row's number and date fields.
struct ListedRow {
    std::string number, date;
};
std::vector<ListedRow> ReadList(Session &s)
{
    static std::vector<ListedRow> listed;
    listed.clear();
    ScriptedForms::Install(s);
    ScriptedForms::from = "";
    ScriptedForms::to = "31.12.79";
    ScriptedForms::list = [](host::FormKeyCallback, host::FormRowCallback rows) {
        int32_t count = static_cast<int32_t>(rows(-1, 0));
        for (int32_t row = 0; row < count; ++row) {
            std::vector<std::string> f = Fields(RowText(rows, static_cast<int16_t>(row)));
            listed.push_back({f.size() == 5 ? f[1] : "<bad row>", f.size() == 5 ? f[4] : ""});
        }
        return host::FormCancelled;
    };
    s.Raise();
    return listed;
}

// Long lists in every kind of scan order, with many documents on one day
// and undated ones among them, come out earliest first, each document once.
TEST(MmImport, LongListsComeOutInDateOrderEachDocumentOnce)
{
    struct Case {
        const char *name;
        int n;
        std::function<std::string(int)> date; // the i-th scanned document's date
    };
    auto day = [](int d) {
        char date[16];
        std::snprintf(date, sizeof date, "2024%02d%02d", 1 + d / 28 % 12, 1 + d % 28);
        return std::string(date);
    };
    const Case cases[] = {
        {"shuffled, about 25 a day", 500, [&](int i) { return day((i * 2654435761u >> 16) % 20); }},
        {"in order already", 300, [&](int i) { return day(i); }},
        {"reversed", 300, [&](int i) { return day(299 - i); }},
        {"all on one day", 100, [&](int) { return day(5); }},
        {"every seventh undated", 200,
         [&](int i) { return i % 7 == 3 ? std::string("2024AB01") : day(i * 31 % 97); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.loaded);
        std::vector<std::string> numbers;
        for (int i = 0; i < c.n; ++i) {
            numbers.push_back("MM/" + std::to_string(i + 1));
            s.h.data.AddHeader({i + 1, c.date(i), numbers.back(), "Opis", 10000, 1, 1});
        }
        std::vector<ListedRow> listed = ReadList(s);
        ASSERT_EQ(listed.size(), numbers.size());
        std::vector<std::string> got;
        for (size_t i = 0; i < listed.size(); ++i) {
            got.push_back(listed[i].number);
            if (i > 0) {
                EXPECT_LE(host::DateKey(listed[i - 1].date.c_str()), host::DateKey(listed[i].date.c_str()))
                    << "rows " << i - 1 << " and " << i;
            }
        }
        std::sort(got.begin(), got.end());
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(got, numbers);
    }
}

// A host whose comparison of dates contradicts itself gets no order, but
// the sort stays inside the list and keeps every document exactly once.
struct ContradictoryDates {
    static inline int answer; // -1, 1, or 0 for answers at random
    static inline uint32_t seed;
    static int32_t __stdcall Compare(const char *a, const char *b)
    {
        // The range checks compare stored dates with the bounds: those get
        // true answers. Display dates are the sort's.
        if (std::strlen(a) != 10 || std::strlen(b) != 10)
            return host::CompareDateTexts(a, b);
        if (answer != 0)
            return answer;
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>(seed >> 16) % 3 - 1;
    }
};

TEST(MmImport, ContradictoryDateComparisonsKeepEveryDocument)
{
    const struct {
        const char *name;
        int answer;
    } cases[] = {{"always earlier", -1}, {"always later", 1}, {"at random", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ContradictoryDates::answer = c.answer;
        ContradictoryDates::seed = 7;
        Session s;
        ASSERT_TRUE(s.loaded);
        s.h.serviceOverrides[30908] = reinterpret_cast<void *>(&ContradictoryDates::Compare);
        std::vector<std::string> numbers;
        for (int i = 0; i < 400; ++i) {
            numbers.push_back("MM/" + std::to_string(i + 1));
            s.h.data.AddHeader({i + 1, "20240105", numbers.back(), "Opis", 10000, 1, 1});
        }
        std::vector<ListedRow> listed = ReadList(s);
        std::vector<std::string> got;
        for (const ListedRow &row : listed)
            got.push_back(row.number);
        std::sort(got.begin(), got.end());
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(got, numbers);
    }
}

} // namespace
