#include "host/editor.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/console.h"
#include "host/forms.h"
#include "host/mazovia.h"

namespace host {
namespace {

std::string M(const char *utf8) { return Utf8ToMazovia(utf8); }

// A text field of a record, up to its terminator or the field's end.
std::string Field(const char *text, size_t room) { return std::string(text, strnlen(text, room)); }

std::string Money(double amount)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", amount);
    return text;
}

struct Column {
    const char *heading;
    int width;
    bool right;
};
// Lp., name, code, quantity, unit, price, warehouse: with a separator cell
// between each two and the cursor mark before them, the screen's width.
const Column kColumns[] = {
    {"Lp.", 3, true},  {"Nazwa towaru", 34, false}, {"Indeks", 10, false}, {"Ilość", 6, true},
    {"J.m.", 5, false}, {"Cena", 10, true},          {"Mag.", 5, false},
};
constexpr int kTitleLine = 0, kHeadingLine = 2, kFirstRowLine = 4, kSummaryLine = 21,
              kStatusLine = 24;
constexpr uint8_t kVertical = 0xB3, kHorizontal = 0xC4, kCross = 0xC5, kUpT = 0xC1,
                  kCursorMark = 0xAF;

bool IsFree(const SalesDocRow &row) { return row.rowState == 0 && row.presence == 0; }

void DrawFields(Screen &screen, int y, const std::vector<std::string> &fields, Attr attr)
{
    int x = 1;
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        if (i > 0)
            screen.Put(x++, y, kVertical, attr == Attr::Normal ? Attr::Frame : attr);
        std::string text = i < fields.size() ? fields[i] : "";
        if (kColumns[i].right)
            text.insert(0, "\x01p");
        screen.Text(x, y, kColumns[i].width, text, attr);
        x += kColumns[i].width;
    }
}

void DrawRule(Screen &screen, int y, uint8_t joint)
{
    screen.Fill(0, y, Screen::Width, kHorizontal, Attr::Frame);
    int x = 1;
    for (size_t i = 0; i + 1 < std::size(kColumns); ++i) {
        x += kColumns[i].width;
        screen.Put(x++, y, joint, Attr::Frame);
    }
}

std::string ShownDate(const std::string &stored)
{
    if (stored.size() != 8)
        return stored;
    return stored.substr(6, 2) + "." + stored.substr(4, 2) + "." + stored.substr(0, 4);
}

} // namespace

void FillTables(const Database &db, HostData &data)
{
    for (const DbMmDocument &doc : db.mmDocuments) {
        data.AddHeader({doc.key, doc.date, doc.number, doc.description, doc.value, doc.warehouse,
                        doc.listable});
        for (const DbItem &item : doc.items)
            data.AddItem({doc.key, item.name, item.code, item.quantity, item.unit, item.priceOdd,
                          item.priceEven, item.vat, item.presence});
    }
    const DbSalesDocument &sales = db.salesDocument;
    data.SalesHeader().priceFlag = sales.priceFlag;
    data.SetRows(sales.rowCount);
    for (const DbSalesRow &used : sales.used) {
        SalesDocRow &row = data.Row(used.row);
        const DbItem &item = used.item;
        CopyText(row.longText, sizeof row.longText, item.name.c_str(), item.name.size());
        CopyText(row.shortText, sizeof row.shortText, item.code.c_str(), item.code.size());
        row.intValue = item.quantity;
        CopyText(row.smallText, sizeof row.smallText, item.unit.c_str(), item.unit.size());
        row.shortValue = item.vat;
        std::snprintf(row.warehouseText, sizeof row.warehouseText, "M%d", used.warehouse);
        row.rowState = 1; // taken, whatever its presence
        row.price = item.priceOdd / 100.0;
        row.warehouseNo = used.warehouse;
        row.presence = item.presence;
        row.position = static_cast<int16_t>(used.row);
    }
}

Editor::Editor(StandInHost &host, const DbSalesDocument &doc, std::string commandTitle)
    : h_(host), doc_(doc), title_(std::move(commandTitle))
{
}

bool Editor::NextKey(uint16_t &key)
{
    if (h_.keys.empty() && (!h_.awaitKeys || !h_.awaitKeys() || h_.keys.empty()))
        return false;
    key = h_.keys.front();
    h_.keys.pop_front();
    return true;
}

void Editor::Run()
{
    MoveCursor(h_.salesDoc.firstRowShown + h_.salesDoc.cursorRow);
    for (;;) {
        Draw();
        uint16_t k = 0;
        if (!NextKey(k) || k == QuitKey)
            return;
        int32_t at = h_.salesDoc.firstRowShown + h_.salesDoc.cursorRow;
        switch (k) {
        case key::Up: MoveCursor(at - 1); break;
        case key::Down: MoveCursor(at + 1); break;
        case key::PageUp: MoveCursor(at - WindowRows); break;
        case key::PageDown: MoveCursor(at + WindowRows); break;
        case key::Home: MoveCursor(0); break;
        case key::End: MoveCursor(h_.data.rowCount - 1); break;
        case key::F8:
        case key::Ctrl8: RunCommand(); break;
        default: break;
        }
    }
}

// The command as the host raises it: event 234 through the table's handler,
// with the open document's rows.
void Editor::RunCommand()
{
    HostData &d = h_.data;
    h_.RaiseEvent(MmImportEvent, 1, &d.rowCount, d.rows.data(), 0, &h_.salesDoc, 0, 0, 0, 0, 0);
    // The plug-in leaves the cursor on the row it filled last.
    MoveCursor(h_.salesDoc.firstRowShown + h_.salesDoc.cursorRow);
}

void Editor::MoveCursor(int32_t to)
{
    TableDescriptor &t = h_.salesDoc;
    int32_t count = h_.data.rowCount;
    to = std::clamp<int32_t>(to, 0, std::max<int32_t>(0, count - 1));
    if (to < t.firstRowShown)
        t.firstRowShown = to;
    if (to >= t.firstRowShown + WindowRows)
        t.firstRowShown = to - WindowRows + 1;
    t.firstRowShown = std::clamp<int32_t>(t.firstRowShown, 0, std::max<int32_t>(0, count - WindowRows));
    t.cursorRow = to - t.firstRowShown;
}

void Editor::DrawRow(int y, int32_t index)
{
    Screen &s = h_.screen;
    bool cursor = index == h_.salesDoc.firstRowShown + h_.salesDoc.cursorRow;
    Attr attr = cursor ? Attr::RowCursor : Attr::Normal;
    s.Put(0, y, cursor ? kCursorMark : ' ', attr);
    const SalesDocRow &row = h_.data.Row(index);
    std::string number = std::to_string(index + 1);
    if (IsFree(row)) {
        DrawFields(s, y, {number, M("· wolny ·")}, attr);
        if (!cursor)
            s.Text(1 + kColumns[0].width + 1, y, kColumns[1].width, M("· wolny ·"), Attr::Third);
        return;
    }
    DrawFields(s, y,
               {number, Field(row.longText, sizeof row.longText),
                Field(row.shortText, sizeof row.shortText), std::to_string(row.intValue),
                Field(row.smallText, sizeof row.smallText), Money(row.price),
                Field(row.warehouseText, sizeof row.warehouseText)},
               attr);
}

void Editor::Draw()
{
    Screen &s = h_.screen;
    s.Clear();
    for (int y = 0; y < Screen::Height; ++y)
        s.Fill(0, y, Screen::Width, ' ', Attr::Normal);

    s.Text(0, kTitleLine, Screen::Width, M(" Dokument sprzedaży ") + doc_.number, Attr::Title);
    s.Text(60, kTitleLine, 19, "\x01p" + ShownDate(doc_.date), Attr::Title);
    s.Text(1, kTitleLine + 1, 60, M("Odbiorca: ") + doc_.customer);
    s.Text(60, kTitleLine + 1, 19,
           "\x01p" + M((h_.data.SalesHeader().priceFlag & 1) ? "Ceny hurtowe" : "Ceny detaliczne"));

    std::vector<std::string> headings;
    for (const Column &c : kColumns)
        headings.push_back(M(c.heading));
    DrawFields(s, kHeadingLine, headings, Attr::Normal);
    DrawRule(s, kHeadingLine + 1, kCross);

    int32_t count = h_.data.rowCount, free = 0;
    double value = 0;
    for (int32_t i = 0; i < count; ++i) {
        const SalesDocRow &row = h_.data.Row(i);
        if (IsFree(row))
            ++free;
        else
            value += row.price * row.intValue;
    }
    for (int i = 0; i < WindowRows; ++i) {
        int32_t index = h_.salesDoc.firstRowShown + i;
        if (index < count)
            DrawRow(kFirstRowLine + i, index);
    }
    DrawRule(s, kFirstRowLine + WindowRows, kUpT);

    s.Text(1, kSummaryLine, 50,
           M("Pozycji: ") + std::to_string(count) + M("   zajęte: ") +
               std::to_string(count - free) + M("   wolne: ") + std::to_string(free));
    s.Text(50, kSummaryLine, 29, "\x01p" + M("Wartość: ") + Money(value));

    // Both keys of the command, then the plug-in's own title for it.
    s.Text(0, kStatusLine, Screen::Width,
           " \x05" "F8\x01/\x05" "Ctrl+8\x01 " + title_ + M("  \x05" "F10\x01 Koniec"),
           Attr::Title);
}

void Editor::DrawBox(const std::string &caption, const std::string &text,
                     const std::string &footer)
{
    Screen &s = h_.screen;
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::string title = " " + caption + " ";
    int width = Screen::VisibleWidth(title) + 6;
    for (const std::string &line : lines)
        width = std::max(width, Screen::VisibleWidth(line) + 6);
    width = std::clamp(width, 30, Screen::Width - 2);
    int height = static_cast<int>(lines.size()) + 4 + (footer.empty() ? 0 : 2);
    int x = (Screen::Width - width) / 2, y = (Screen::Height - height) / 2;

    for (int row = 1; row < height - 1; ++row)
        s.Fill(x + 1, y + row, width - 2, ' ', Attr::Normal);
    s.Frame(x, y, width, height, true, Attr::Frame);
    int titleWidth = std::min(Screen::VisibleWidth(title), width - 2);
    s.Text(x + (width - titleWidth) / 2, y, titleWidth, title, Attr::Title);
    for (size_t i = 0; i < lines.size(); ++i)
        s.Text(x + 2, y + 2 + static_cast<int>(i), width - 4, "\x01" "c" + lines[i]);
    if (!footer.empty())
        s.Text(x + 2, y + height - 2, width - 4, "\x01" "c" + footer);
}

void Editor::ShowMessage(const Message &message)
{
    Screen saved = h_.screen;
    bool waits = message.style != 0x200;
    DrawBox(message.title, message.text, waits ? "\x05" "Enter\x01 OK" : "");
    if (!waits) {
        if (present)
            present();
        return;
    }
    uint16_t k = 0;
    NextKey(k); // any key closes it
    h_.screen = saved;
}

int Editor::ShowSystemBox(const SystemBox &box)
{
    Screen saved = h_.screen;
    const bool abortRetryIgnore = (box.style & 0xF) == MB_ABORTRETRYIGNORE;
    DrawBox(box.caption, box.text,
            abortRetryIgnore ? M("\x05" "A\x01 Przerwij   \x05" "R\x01 Ponów   \x05" "I\x01 Ignoruj")
                             : "\x05" "Enter\x01 OK");
    int answer = 0; // no more keys: the box cannot be shown
    for (uint16_t k = 0; NextKey(k);) {
        if (!abortRetryIgnore) {
            answer = IDOK;
            break;
        }
        char c = k < 0x100 ? static_cast<char>(std::tolower(k)) : 0;
        if (c == 'a' || k == key::Esc) {
            answer = IDABORT;
            break;
        }
        if (c == 'r') {
            answer = IDRETRY;
            break;
        }
        if (c == 'i') {
            answer = IDIGNORE;
            break;
        }
    }
    h_.screen = saved;
    return answer;
}

} // namespace host
