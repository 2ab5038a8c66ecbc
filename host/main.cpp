// The stand-in host as a program: reads the shop database, loads Tolmar.dll,
// starts it, and opens the sales document in the editor, where Ctrl+8 or F8
// runs the plug-in's command. With a console it runs interactively; without
// one (piped output, CI) it plays a scripted session and prints every screen
// it passes through, then what the plug-in did.
//
//   tolmar_host [--db FILE] [--dll FILE] [--env windows|dos] [--script] [--trace]
//
// --env dos runs it as the host under the 32-bit DOS extender
// (host/dosx/dosx.h), an older host that lacks entry 52064
// (HostCloseMessage): the plug-in reports it, and the extender's message box
// shows the report in Mazovia with its highlights.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/database.h"
#include "host/editor.h"
#include "host/forms.h"
#include "host/mazovia.h"
#include "host/stand_in_host.h"

namespace {

struct Options {
    std::string dll = "Tolmar.dll";
    std::string database; // empty: shop.json beside the program
    bool script = false;  // the scripted session even with a console
    bool trace = false;   // list every host service call at the end
    bool dos = false;     // under the DOS extender (default: TOLMAR_HOST_ENV)
};

// The entry that the host under the DOS extender lacks in the demonstration:
// called once the scan of the MM documents is done, harmless to ignore.
constexpr uint32_t kDosLackingEntry = 52064; // HostCloseMessage

const char *hookState(const host::StandInHost &h)
{
    return h.salesDoc.handler == &host::StandInHost::OwnSalesDocHandler ? "host's own handler"
                                                                        : "plug-in's handler";
}

std::string besideProgram(const char *name)
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : dir.substr(0, slash + 1)) + name;
}

// The scripted session: what each screen shows, and the keys pressed on it.
// It runs on the sample database; on another one the same keys still run.
struct Step {
    const char *caption;
    std::vector<uint16_t> keys;
};

std::vector<uint16_t> keys(std::initializer_list<std::vector<uint16_t>> parts)
{
    std::vector<uint16_t> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint16_t> typed(const char *text)
{
    std::vector<uint16_t> out;
    for (const char *c = text; *c; ++c)
        out.push_back(host::key::Char(*c));
    return out;
}

std::vector<Step> scriptedSession(bool dos)
{
    using namespace host::key;
    std::vector<Step> report;
    if (dos)
        report = {
            {"Under the DOS extender the host lacks entry 52064: the plug-in's report, in Mazovia with its highlights",
             {Char('r')}},
            {"R (Retry): the same report again; I (Ignore) goes on without the entry", {Char('i')}},
        };
    std::vector<Step> steps = {
        {"The open sales document; free rows are marked", {F8}},
        {"F8: the command asks for the boundary issue dates", keys({typed("01.10.26"), {F4}, typed("31.10.26")})},
        {"Dates typed (F4 moved to the second field)", {F12}},
        {"F12: the MM documents issued in October, by issue date", {Insert, Down, Insert}},
        {"Insert marks a document and moves down: two documents marked", {F12}},
        {"F12: their items fill the free rows; the cursor is on the row filled last",
         keys({{F8}, typed("01.09.26"), {F4}, typed("30.09.26"), {F12}})},
        {"F8 again, September: two documents share 23.09.2026", {Down, Down, Down, Down, Down, Insert}},
        {"The document of 18.09.2026 marked; one of its items is not present", {F12}},
        {"F12: the document is full before the last item", {Enter}},
        {"The document after both runs", {host::Editor::QuitKey}},
    };
    steps.insert(steps.begin() + 3, report.begin(), report.end());
    return steps;
}

// The highlighted runs of a screen (control byte 0x02), in reading order.
std::vector<std::string> highlighted(const host::Screen &screen)
{
    std::vector<std::string> runs;
    for (int y = 0; y < host::Screen::Height; ++y)
        for (int x = 0; x < host::Screen::Width; ++x) {
            if (screen.At(x, y).attr != host::Attr::Highlight)
                continue;
            int from = x;
            while (x < host::Screen::Width && screen.At(x, y).attr == host::Attr::Highlight)
                ++x;
            runs.push_back(host::MazoviaToUtf8(screen.Chars(from, y, x - from)));
        }
    return runs;
}

void printScreen(const host::Screen &screen, int number, const char *caption, bool highlights)
{
    std::printf("\n[screen %d] %s\n", number, caption);
    std::string rule = "+" + std::string(host::Screen::Width, '-') + "+";
    std::printf("%s\n", rule.c_str());
    for (int y = 0; y < host::Screen::Height; ++y)
        std::printf("|%s|\n", host::MazoviaToUtf8(screen.Line(y)).c_str());
    std::printf("%s\n", rule.c_str());
    if (highlights)
        for (const std::string &run : highlighted(screen))
            std::printf("highlighted: %s\n", run.c_str());
}

// What handles exceptions in the host's thread: an entry that the user left
// empty with Abort has no service to enter, and its call ends the program.
// The terminal is given back and the reason told first.
host::Console *openConsole;
LONG WINAPI lastChance(EXCEPTION_POINTERS *pointers)
{
    if (openConsole)
        openConsole->Close();
    const EXCEPTION_RECORD *r = pointers->ExceptionRecord;
    std::fprintf(stderr, "\ntolmar_host: exception 0x%08lX at address %p; the program ends%s\n",
                 r->ExceptionCode, r->ExceptionAddress,
                 r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && !r->ExceptionAddress
                     ? " (a host entry left empty, after Abort, was called)"
                     : "");
    std::fflush(stderr);
    ExitProcess(4);
}

// The highlight bytes of a text made visible.
std::string visibleControls(std::string text)
{
    for (char &c : text)
        c = c == '\x02' ? '{' : c == '\x01' ? '}' : c;
    return text;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: tolmar_host [--db FILE] [--dll FILE] [--env windows|dos] [--script] [--trace]\n");
    return 64;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    opt.dos = host::LoadOptions::FromEnvironment().dosExtender;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--dll" || a == "--db") && i + 1 < argc)
            (a == "--dll" ? opt.dll : opt.database) = argv[++i];
        else if (a == "--env" && i + 1 < argc && (std::strcmp(argv[i + 1], "dos") == 0 ||
                                                   std::strcmp(argv[i + 1], "windows") == 0))
            opt.dos = std::strcmp(argv[++i], "dos") == 0;
        else if (a == "--script")
            opt.script = true;
        else if (a == "--trace")
            opt.trace = true;
        else
            return usage();
    }
    if (opt.database.empty())
        opt.database = besideProgram("shop.json");

    // The whole database first: a program never runs on half of one.
    host::Database db;
    try {
        db = host::ReadDatabaseFile(opt.database);
    } catch (const host::DatabaseError &e) {
        std::fprintf(stderr, "tolmar_host: database refused: %s\n", e.what());
        return 3;
    }

    // Ctrl+C is a key like any other, never the end mid-document.
    SetConsoleCtrlHandler(nullptr, TRUE);
    host::Console console;
    const bool interactive = !opt.script && console.Open();
    openConsole = &console;
    SetUnhandledExceptionFilter(&lastChance);
    if (!interactive)
        SetConsoleOutputCP(CP_UTF8); // when the output is a console after all

    host::StandInHost h;
    host::FillTables(db, h.data);
    h.loadOptions.dosExtender = opt.dos;
    if (opt.dos)
        h.LackEntry(kDosLackingEntry);
    if (!h.Load(opt.dll.c_str())) {
        console.Close();
        std::printf("cannot load %s or find its ordinal 30001\n", opt.dll.c_str());
        return 1;
    }
    char title[64] = {};
    int32_t started = h.Start(title);
    if (!interactive) {
        std::printf("database: %s (%zu MM documents, %d rows)\n", db.source.c_str(),
                    db.mmDocuments.size(), db.salesDocument.rowCount);
        if (opt.dos)
            std::printf("environment: DOS extender (kernel emulation %s; the host lacks entry %u)\n",
                        "DOSXKERN.dll", kDosLackingEntry);
        std::printf("start: %d\n", started);
        std::printf("title: %s\n", host::MazoviaToUtf8(title).c_str());
        for (const std::string &notice : h.notices)
            std::printf("notice: %s\n", host::MazoviaToUtf8(notice).c_str());
        std::printf("table 45 handler: %s\n", hookState(h));
    }

    if (started == 0) {
        host::Editor editor(h, db.salesDocument, title);
        h.showMessage = [&](const host::Message &m) { editor.ShowMessage(m); };
        bool boxShown = false; // its screens list their highlighted texts
        h.showSystemBox = [&](const host::SystemBox &b) {
            boxShown = true;
            int answer = editor.ShowSystemBox(b);
            boxShown = false;
            return answer;
        };
        std::vector<Step> steps = scriptedSession(opt.dos);
        size_t next = 0;
        if (interactive) {
            editor.present = [&] { console.Show(h.screen); };
            h.awaitKeys = [&] {
                for (;;) {
                    console.Show(h.screen);
                    uint16_t k = console.ReadKey();
                    if (k == 0)
                        return false; // the console is gone
                    if (k == host::key::CtrlC)
                        continue;
                    h.keys.push_back(k);
                    return true;
                }
            };
            editor.Draw();
            for (const std::string &notice : h.notices)
                editor.ShowMessage({"Tolmar", notice, 1});
        } else {
            h.awaitKeys = [&] {
                if (next == steps.size())
                    return false;
                printScreen(h.screen, static_cast<int>(next + 1), steps[next].caption, boxShown);
                h.keys.insert(h.keys.end(), steps[next].keys.begin(), steps[next].keys.end());
                ++next;
                return true;
            };
        }
        editor.Run();
        h.showMessage = nullptr;
        h.showSystemBox = nullptr;
        h.awaitKeys = nullptr;
    }

    int32_t stopped = h.Stop();
    console.Close();
    if (!interactive || started != 0) {
        std::printf("\nstop: %d\n", stopped);
        std::printf("table 45 handler: %s\n", hookState(h));
        for (const host::Message &m : h.messages)
            std::printf("message [%s] style %d:\n%s\n", host::MazoviaToUtf8(m.title).c_str(),
                        m.style, host::MazoviaToUtf8(m.text).c_str());
        for (const host::SystemBox &b : h.systemBoxes)
            std::printf("extender's box [%s] style 0x%X (highlight bytes 0x02 0x01 shown as { }):\n%s\n",
                        host::MazoviaToUtf8(b.caption).c_str(), static_cast<unsigned>(b.style),
                        host::MazoviaToUtf8(visibleControls(b.text)).c_str());
        if (opt.trace) {
            std::printf("host services called:\n");
            for (const std::string &line : h.trace)
                std::printf("  %s\n", line.c_str());
        }
    }
    return started == 0 ? 0 : 2;
}
