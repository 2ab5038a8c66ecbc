// The demonstration program's parts: the console's keys and characters, and
// the sales-document editor running the real Tolmar.dll's command on the
// sample database, with the screen taken whenever it waits for keys.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/database.h"
#include "host/editor.h"
#include "host/forms.h"
#include "host/mazovia.h"
#include "host/stand_in_host.h"

namespace {

namespace key = host::key;
using Keys = std::vector<uint16_t>;

TEST(ConsoleKeys, BecomeTheFormEngineCodes)
{
    struct Case {
        const char *name;
        WORD vk, scan;
        char ch;
        DWORD state;
        BOOL down;
        uint16_t code;
    };
    const Case cases[] = {
        {"F3", VK_F3, 0x3D, 0, 0, TRUE, key::F3},
        {"F4", VK_F4, 0x3E, 0, 0, TRUE, key::F4},
        {"F8", VK_F8, 0x42, 0, 0, TRUE, key::F8},
        {"F10", VK_F10, 0x44, 0, 0, TRUE, host::Editor::QuitKey},
        {"F12", VK_F12, 0x58, 0, 0, TRUE, key::F12},
        {"Insert", VK_INSERT, 0x52, 0, ENHANCED_KEY, TRUE, key::Insert},
        {"Down", VK_DOWN, 0x50, 0, ENHANCED_KEY, TRUE, key::Down},
        {"Home with no virtual key", 0, 0x47, 0, 0, TRUE, key::Home},
        {"End with no virtual key", 0, 0x4F, 0, 0, TRUE, key::End},
        {"Esc", VK_ESCAPE, 0x01, 0x1B, 0, TRUE, key::Esc},
        {"Enter", VK_RETURN, 0x1C, '\r', 0, TRUE, key::Enter},
        {"Backspace", VK_BACK, 0x0E, 0x08, 0, TRUE, key::Backspace},
        {"digit", '0', 0x0B, '0', 0, TRUE, key::Char('0')},
        {"dot", VK_OEM_PERIOD, 0x34, '.', 0, TRUE, key::Char('.')},
        {"Ctrl+8", '8', 0x09, 0, LEFT_CTRL_PRESSED, TRUE, key::Ctrl8},
        {"Ctrl+C", 'C', 0x2E, 0x03, RIGHT_CTRL_PRESSED, TRUE, key::CtrlC},
        {"a release", VK_F12, 0x58, 0, 0, FALSE, 0},
        {"Shift alone", VK_SHIFT, 0x2A, 0, SHIFT_PRESSED, TRUE, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KEY_EVENT_RECORD event{};
        event.bKeyDown = c.down;
        event.wRepeatCount = 1;
        event.wVirtualKeyCode = c.vk;
        event.wVirtualScanCode = c.scan;
        event.uChar.AsciiChar = c.ch;
        event.dwControlKeyState = c.state;
        EXPECT_EQ(host::KeyCode(event), c.code);
    }
}

TEST(ConsoleCharacters, MazoviaBytesAsUnicode)
{
    EXPECT_EQ(host::MazoviaToUnicode(0x86), L'\u0105'); // ą
    EXPECT_EQ(host::MazoviaToUnicode(0xA7), L'\u017C'); // ż
    EXPECT_EQ(host::MazoviaToUnicode(0x9C), L'\u0141'); // Ł
    EXPECT_EQ(host::MazoviaToUnicode(0xA1), L'\u017B'); // Ż
    EXPECT_EQ(host::MazoviaToUnicode(0xC9), L'\u2554'); // ╔
    EXPECT_EQ(host::MazoviaToUnicode(0xB3), L'\u2502'); // │
    EXPECT_EQ(host::MazoviaToUnicode('A'), L'A');
    EXPECT_EQ(host::MazoviaToUnicode(0x05), L' '); // control bytes take no glyph
}

Keys Typed(const char *text)
{
    Keys out;
    for (; *text; ++text)
        out.push_back(key::Char(*text));
    return out;
}

Keys Join(std::initializer_list<Keys> parts)
{
    Keys out;
    for (const Keys &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The editor on the sample database with the plug-in started. Play() runs
// it: each time it waits with no key queued, the screen is taken and the
// next batch of keys queued.
class Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = host::ReadDatabaseFile("shop.json");
        host::FillTables(db, h.data);
        h.profile["Tolmar/Pytaj"] = "1"; // no installation notice
        loaded = h.Load();
        ASSERT_TRUE(loaded) << "Tolmar.dll";
        char title[64] = {};
        ASSERT_EQ(h.Start(title), 0);
        editor = std::make_unique<host::Editor>(h, db.salesDocument, title);
        h.showMessage = [this](const host::Message &m) { editor->ShowMessage(m); };
    }
    void TearDown() override
    {
        h.showMessage = nullptr;
        h.awaitKeys = nullptr;
        if (loaded) {
            EXPECT_EQ(h.Stop(), 0);
        }
    }

    void Play(std::vector<Keys> batches)
    {
        size_t next = 0;
        h.awaitKeys = [&] {
            screens.push_back(h.screen);
            if (next == batches.size())
                return false;
            h.keys.insert(h.keys.end(), batches[next].begin(), batches[next].end());
            ++next;
            return true;
        };
        editor->Run();
        h.awaitKeys = nullptr;
    }

    std::string Text(size_t screen) const
    {
        std::string all;
        for (int y = 0; y < host::Screen::Height; ++y)
            all += host::MazoviaToUtf8(screens.at(screen).Line(y)) + "\n";
        return all;
    }
    std::string Name(int row) { return host::MazoviaToUtf8(h.data.Row(row).longText); }
    int32_t Cursor() const { return h.salesDoc.firstRowShown + h.salesDoc.cursorRow; }

    host::StandInHost h;
    host::Database db;
    std::unique_ptr<host::Editor> editor;
    std::vector<host::Screen> screens;
    bool loaded = false;
};

TEST_F(Editor, ShowsRowsFreeRowsCursorAndBothCommandKeys)
{
    Play({{host::Editor::QuitKey}});
    ASSERT_FALSE(screens.empty());
    std::string screen = Text(0);
    EXPECT_NE(screen.find("»  1│Cement portlandzki"), std::string::npos) << screen;
    EXPECT_NE(screen.find("   3│· wolny ·"), std::string::npos) << screen;
    EXPECT_NE(screen.find("   8│Taśma malarska 48 mm x 50 m"), std::string::npos) << screen;
    EXPECT_NE(screen.find("wolne: 7"), std::string::npos) << screen;
    EXPECT_EQ(host::MazoviaToUtf8(screens[0].Line(24)).rfind(
                  " F8/Ctrl+8 Dok. sprzedaży z MM (Ctrl+8 dok.spr.)", 0),
              0u)
        << screen;
}

// Two October documents marked: their seven items take exactly the seven
// free rows, in row order, and the cursor stays on the last one filled.
TEST_F(Editor, CommandFillsTheFreeRows)
{
    Play({Join({{key::F8}, Typed("01.10.26"), {key::F4}, Typed("31.10.26"), {key::F12},
                {key::Insert, key::Insert, key::F12}}),
          {host::Editor::QuitKey}});
    const char *expected[12] = {
        "Cement portlandzki CEM II 32,5 R 25 kg", "Zaprawa murarska M10 25 kg",
        "Kolano PCV 110/45°", "Łata drewniana 4x5 cm 3 m",
        "Rękawice robocze powlekane nitrylem", "Gniazdo podwójne z uziemieniem białe",
        "Profil stalowy CD 60 3 m", "Taśma malarska 48 mm x 50 m", "Zaprawa murarska M10 25 kg",
        "Rura kanalizacyjna PCV 110 mm 2 m", "Papa podkładowa 10 m²",
        "Wkręty do drewna 4x40 ocynk (op. 200 szt.)"};
    for (int row = 0; row < 12; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Name(row), expected[row]);
    }
    EXPECT_STREQ(h.data.Row(2).warehouseText, "M1");
    EXPECT_STREQ(h.data.Row(8).warehouseText, "M2");
    EXPECT_EQ(Cursor(), 11);
    EXPECT_TRUE(h.messages.empty() || h.messages.back().title != "Blokada");
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_NE(Text(1).find("wolne: 0"), std::string::npos) << Text(1);
}

// More items than free rows: the message is drawn over the screen, waits
// for a key, and is taken off again; Ctrl+8 starts the command as F8 does.
TEST_F(Editor, BlokadaIsDrawnAndWaitsForAKey)
{
    Play({Join({{key::Ctrl8}, Typed("01.09.26"), {key::F4}, Typed("30.09.26"), {key::F12},
                {key::Insert, key::Insert, key::Insert, key::F12}}),
          {key::Enter},
          {host::Editor::QuitKey}});
    ASSERT_EQ(screens.size(), 3u);
    std::string box = Text(1);
    EXPECT_NE(box.find(" Blokada "), std::string::npos) << box;
    EXPECT_NE(box.find("Więcej pozycji nie zmieści się w tym dokumencie !"), std::string::npos)
        << box;
    EXPECT_NE(box.find("Enter OK"), std::string::npos) << box;
    EXPECT_EQ(Text(2).find("Blokada"), std::string::npos) << Text(2);
    EXPECT_NE(Text(2).find("wolne: 0"), std::string::npos) << Text(2);
    ASSERT_FALSE(h.messages.empty());
    EXPECT_EQ(h.messages.back().title, "Blokada");
}

// Esc leaves the date dialog; the document is unchanged.
TEST_F(Editor, EscLeavesTheDialog)
{
    Play({{key::F8, key::Esc}, {host::Editor::QuitKey}});
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(Text(1), Text(0));
    EXPECT_TRUE(h.messages.empty());
}

} // namespace
