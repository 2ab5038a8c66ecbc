// The stand-in host's sales-document editor: the open document's rows on the
// screen with the free ones marked and the cursor, the plug-in's command on
// Ctrl+8 or F8, and the host's message boxes. Keys come from the host's key
// queue, refilled through its awaitKeys hook, as the forms take them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "host/database.h"
#include "host/stand_in_host.h"

namespace host {

// The event the host raises in table 45 for the plug-in's command.
constexpr int32_t MmImportEvent = 234;

// Puts a database into the host's tables: MM headers (58) and items (67),
// the open document's header (44) and its rows (45).
void FillTables(const Database &db, HostData &data);

class Editor {
public:
    // The key that leaves the program.
    static constexpr uint16_t QuitKey = 0x4400; // F10

    // `commandTitle`: the plug-in's title, as its start call gave it.
    Editor(StandInHost &host, const DbSalesDocument &doc, std::string commandTitle);

    // Runs until the quit key, or until no more keys will come.
    void Run();

    void Draw();
    // Draws a message box over the screen. Style 0x200 stays on the screen
    // while the work goes on; any other waits for a key and is then taken
    // off again.
    void ShowMessage(const Message &message);
    // Draws a message box of the DOS extender (its MessageBoxA) the same way,
    // Mazovia and highlights as the plug-in passed them, and waits for an
    // answer: A(bort), R(etry), I(gnore) or Esc for Abort and Retry and
    // Ignore, any key for OK. 0 when no more keys will come.
    int ShowSystemBox(const SystemBox &box);

    // Rows shown at once.
    static constexpr int WindowRows = 16;

    // Called when the screen should be seen before work that takes no key
    // (the interactive program copies it to the console).
    std::function<void()> present;

private:
    bool NextKey(uint16_t &key);
    void DrawBox(const std::string &caption, const std::string &text, const std::string &footer);
    void RunCommand();
    void MoveCursor(int32_t to);
    void DrawRow(int y, int32_t index);

    StandInHost &h_;
    const DbSalesDocument &doc_;
    std::string title_;
};

} // namespace host
