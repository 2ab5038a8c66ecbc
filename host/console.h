// The real console behind the interactive program: shows the host's screen
// buffer and reads keys. A thin back end; everything drawn is in Screen.
#pragma once
#include <windows.h>

#include <cstdint>

#include "host/screen.h"

namespace host {

namespace key {
// The editor's command key. Terminals send no distinct Ctrl+8, so F8 starts
// the command too.
constexpr uint16_t Ctrl8 = 0x0900; // scan code of the 8 key, no character
constexpr uint16_t F8 = 0x4200;
constexpr uint16_t F10 = 0x4400;
constexpr uint16_t CtrlC = 0x2E03;
} // namespace key

// The form engine's code for a console key event: PC scan code times 256,
// plus the character for typing keys; 0 for events that are no key press
// (releases, lone modifiers).
uint16_t KeyCode(const KEY_EVENT_RECORD &event);

// The Unicode character of a Mazovia byte, as a UTF-8 terminal shows it.
wchar_t MazoviaToUnicode(uint8_t byte);

class Console {
public:
    // Takes the console when both standard input and output are one;
    // false otherwise (piped output, no console under CTest).
    bool Open();
    // Gives the console back as it was.
    void Close();
    ~Console() { Close(); }

    void Show(const Screen &screen);
    // Waits for the next key press.
    uint16_t ReadKey();

private:
    HANDLE in_ = INVALID_HANDLE_VALUE, out_ = INVALID_HANDLE_VALUE;
    DWORD inMode_ = 0;
    CONSOLE_CURSOR_INFO cursor_{};
    bool open_ = false;
};

} // namespace host
