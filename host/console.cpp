#include "host/console.h"

#include <string>

#include "host/forms.h"
#include "host/mazovia.h"

namespace host {
namespace {

// Colours of the cells by what they show: the classic blue screen.
WORD Colour(Attr attr)
{
    constexpr WORD fgWhite = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    constexpr WORD bgBlue = BACKGROUND_BLUE;
    constexpr WORD bgCyan = BACKGROUND_GREEN | BACKGROUND_BLUE;
    constexpr WORD bgWhite = BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE;
    switch (attr) {
    case Attr::Normal: return fgWhite | bgBlue;
    case Attr::Highlight: return FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY | bgBlue;
    case Attr::Third: return FOREGROUND_GREEN | FOREGROUND_INTENSITY | bgBlue;
    case Attr::Fourth: return FOREGROUND_RED | FOREGROUND_INTENSITY | bgBlue;
    case Attr::KeyName: return FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY | bgCyan;
    case Attr::Frame: return FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY | bgBlue;
    case Attr::Title: return fgWhite | FOREGROUND_INTENSITY | bgBlue;
    case Attr::Field: return bgCyan;
    case Attr::FieldFocus: return bgWhite;
    case Attr::RowCursor: return bgCyan;
    }
    return fgWhite | bgBlue;
}

// The one code point of a short UTF-8 text, or a blank.
wchar_t Decode(const std::string &utf8)
{
    if (utf8.empty())
        return L' ';
    auto b = [&](size_t i) { return static_cast<unsigned char>(utf8[i]); };
    if (b(0) < 0x80)
        return b(0);
    if ((b(0) & 0xE0) == 0xC0 && utf8.size() >= 2)
        return static_cast<wchar_t>(((b(0) & 0x1F) << 6) | (b(1) & 0x3F));
    if ((b(0) & 0xF0) == 0xE0 && utf8.size() >= 3)
        return static_cast<wchar_t>(((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F));
    return L'?';
}

} // namespace

wchar_t MazoviaToUnicode(uint8_t byte)
{
    static const auto table = [] {
        struct Table {
            wchar_t ch[256];
        } t{};
        for (int i = 0; i < 256; ++i)
            t.ch[i] = i < 0x20 || i == 0x7F ? L' ' : Decode(MazoviaToUtf8(std::string(1, static_cast<char>(i))));
        return t;
    }();
    return table.ch[byte];
}

uint16_t KeyCode(const KEY_EVENT_RECORD &event)
{
    if (!event.bKeyDown)
        return 0;
    const WORD vk = event.wVirtualKeyCode;
    const WORD scan = event.wVirtualScanCode & 0xFF;
    const auto ch = static_cast<uint8_t>(event.uChar.AsciiChar);
    const bool ctrl = event.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);

    if (vk >= VK_F1 && vk <= VK_F10)
        return static_cast<uint16_t>((0x3B + (vk - VK_F1)) << 8);
    switch (vk) {
    case VK_F11: return key::F11;
    case VK_F12: return key::F12;
    case VK_ESCAPE: return key::Esc;
    case VK_RETURN: return key::Enter;
    case VK_BACK: return key::Backspace;
    case VK_TAB: return key::Tab;
    case VK_HOME: return key::Home;
    case VK_END: return key::End;
    case VK_UP: return key::Up;
    case VK_DOWN: return key::Down;
    case VK_PRIOR: return key::PageUp;
    case VK_NEXT: return key::PageDown;
    case VK_INSERT: return key::Insert;
    case VK_LEFT: return 0x4B00;
    case VK_RIGHT: return 0x4D00;
    case VK_DELETE: return 0x5300;
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return 0;
    default:
        break;
    }
    if (ctrl && vk == '8')
        return key::Ctrl8;
    if (ctrl && (vk == 'C' || ch == 0x03))
        return key::CtrlC;
    if (ch >= 0x20 && ch != 0x7F)
        return key::Char(static_cast<char>(ch));
    // Keys that come without a virtual key code (Home and End from some
    // terminals): their scan code alone.
    if (ch == 0 && scan != 0)
        return static_cast<uint16_t>(scan << 8);
    return 0;
}

bool Console::Open()
{
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD outMode = 0;
    if (in_ == INVALID_HANDLE_VALUE || out_ == INVALID_HANDLE_VALUE || !in_ || !out_ ||
        !GetConsoleMode(in_, &inMode_) || !GetConsoleMode(out_, &outMode))
        return false;
    // Keys as they are: no line editing, no echo, and Ctrl+C a key like any
    // other instead of the end of the program.
    SetConsoleMode(in_, 0);
    if (GetConsoleCursorInfo(out_, &cursor_)) {
        CONSOLE_CURSOR_INFO hidden = cursor_;
        hidden.bVisible = FALSE;
        SetConsoleCursorInfo(out_, &hidden);
    }
    // A terminal larger than the screen: the rest of it blank, not what the
    // shell left there.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out_, &info)) {
        DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y), done = 0;
        FillConsoleOutputCharacterA(out_, ' ', cells, COORD{0, 0}, &done);
        FillConsoleOutputAttribute(out_, Colour(Attr::Normal), cells, COORD{0, 0}, &done);
    }
    open_ = true;
    return true;
}

void Console::Close()
{
    if (!open_)
        return;
    open_ = false;
    SetConsoleMode(in_, inMode_);
    if (cursor_.dwSize)
        SetConsoleCursorInfo(out_, &cursor_);
    SetConsoleCursorPosition(out_, COORD{0, Screen::Height - 1});
    DWORD written = 0;
    WriteConsoleA(out_, "\r\n", 2, &written, nullptr);
}

// Unicode cells: the console turns them into the terminal's characters,
// which under Wine follows the locale (UTF-8 with LC_ALL=C.UTF-8).
void Console::Show(const Screen &screen)
{
    static CHAR_INFO cells[Screen::Height * Screen::Width];
    for (int y = 0; y < Screen::Height; ++y)
        for (int x = 0; x < Screen::Width; ++x) {
            Cell c = screen.At(x, y);
            CHAR_INFO &out = cells[y * Screen::Width + x];
            out.Char.UnicodeChar = MazoviaToUnicode(c.ch);
            out.Attributes = Colour(c.attr);
        }
    SMALL_RECT area{0, 0, Screen::Width - 1, Screen::Height - 1};
    WriteConsoleOutputW(out_, cells, COORD{Screen::Width, Screen::Height}, COORD{0, 0}, &area);
}

uint16_t Console::ReadKey()
{
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(in_, &record, 1, &read))
            return 0;
        if (read == 1 && record.EventType == KEY_EVENT)
            if (uint16_t code = KeyCode(record.Event.KeyEvent))
                return code;
    }
}

} // namespace host
