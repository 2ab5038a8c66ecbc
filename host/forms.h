// The stand-in host's form engine: runs a form of a plug-in's FormTable,
// reading the template bytes as the plug-in hands them over. Plain C++
// apart from the callbacks' calling convention, so that it also builds for
// the build machine itself.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/screen.h"
#include "hostapi/forms.h"

#if defined(__i386__)
#define FORM_CALLBACK __attribute__((stdcall))
#else
#define FORM_CALLBACK
#endif

namespace host {

// Form callbacks remove their own arguments. The row callback's result is a
// count (row -1) or the address of a row's text.
using FormKeyCallback = int16_t(FORM_CALLBACK *)(int16_t key, int16_t unused);
using FormRowCallback = intptr_t(FORM_CALLBACK *)(int16_t row, int32_t unused);

// Key codes: PC scan code times 256, plus the character for typing keys.
// Those the plug-in's forms name are the host's interface (hostapi/forms.h).
namespace key {
constexpr uint16_t Esc = 0x011B;
constexpr uint16_t Backspace = 0x0E08;
constexpr uint16_t Tab = 0x0F09;
constexpr uint16_t Enter = 0x1C0D;
constexpr uint16_t F1 = 0x3B00; // F1 to F10 follow on
constexpr uint16_t F3 = static_cast<uint16_t>(F3Key);
constexpr uint16_t F4 = static_cast<uint16_t>(F4Key);
constexpr uint16_t F11 = 0x8500;
constexpr uint16_t F12 = 0x8600;
constexpr uint16_t Home = 0x4700;
constexpr uint16_t Up = 0x4800;
constexpr uint16_t PageUp = 0x4900;
constexpr uint16_t End = 0x4F00;
constexpr uint16_t Down = 0x5000;
constexpr uint16_t PageDown = 0x5100;
constexpr uint16_t Insert = static_cast<uint16_t>(InsertKey);
// A typed character; its scan code does not matter to forms.
constexpr uint16_t Char(char c) { return static_cast<uint8_t>(c); }
} // namespace key

// The code a form returns when it is left with Esc, or when the scripted
// keys run out while it waits.
constexpr int16_t FormCancelled = static_cast<int16_t>(key::Esc);

class FormEngine {
public:
    FormEngine(Screen &screen, std::deque<uint16_t> &keys) : screen_(screen), keys_(keys) {}

    // Whether form `formId` is in the table, and whether it holds a list
    // (then the caller passes a row callback).
    bool Find(const void *table, int32_t formId);
    bool HasList() const { return listIndex_ >= 0; }

    // Runs the form found last. Returns the code of the button that ended
    // it, or FormCancelled.
    int16_t Run(char *data, FormKeyCallback onKey, FormRowCallback rows);

    // The running list's current row, for the list's id; null otherwise.
    int16_t *Value(int32_t elementId);

    // Asked when the form waits and no key is queued: it may queue keys (the
    // interactive program reads the console here) and returns false when no
    // more will come.
    std::function<bool()> awaitKeys;

private:
    struct Element {
        uint16_t type;
        uint16_t id;
        uint32_t style;
        int16_t column, line, width, height;
        std::string text;
        uint16_t hotKey = 0; // buttons: the key named in the caption
        int slot = -1;       // edit fields: which text of the data area
    };
    struct Column {
        bool right;
        int width; // after shrinking to fit the list
        std::string heading;
    };

    void Draw();
    void DrawList(const Element &list);
    void DrawRow(int x, int y, std::string_view fields, Attr attr);
    void LayOutColumns(const Element &list);
    bool EditKey(uint16_t key);
    bool ListKey(uint16_t key);
    void MoveFocus(size_t from);
    int32_t RowCount();
    void ClampRow();
    std::string &SlotText(int slot);
    void StoreSlot(int slot);

    Screen &screen_;
    std::deque<uint16_t> &keys_;

    // The form found.
    Element form_{};
    std::vector<Element> elements_;
    int listIndex_ = -1;
    std::string columnSpec_;
    std::vector<Column> columns_;
    int editCount_ = 0;

    // The run.
    char *data_ = nullptr;
    FormKeyCallback onKey_ = nullptr;
    FormRowCallback rows_ = nullptr;
    // The callbacks, called as the host calls them (in the Win32 host with
    // a check that each removes its two arguments, host/service_calls.h).
    int16_t CallKey(int16_t key);
    intptr_t CallRows(int16_t row);
    int focus_ = -1; // index into elements_, an edit field or the list
    std::vector<std::string> texts_;
    int16_t currentRow_ = 0;
    int topRow_ = 0;
    bool running_ = false;
    int left_ = 0, top_ = 0;
};

} // namespace host
