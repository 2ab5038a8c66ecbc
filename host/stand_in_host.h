// The stand-in host: loads the real Tolmar.dll, serves HostQuery and the
// numbered services with their real calling conventions, and records every
// call so that tests can assert on the trace.
#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/data.h"
#include "host/screen.h"
#include "hostapi/records.h"

namespace image {
class PeFile; // host/pe_file.h
}

namespace host {

using PluginEntryFunction = int32_t(__stdcall *)(void *hostQuery, char *title);

struct Message {
    std::string title; // Mazovia, as the plug-in passed it
    std::string text;
    int32_t style;
};

struct HandlerCall {
    int32_t event;
    int16_t editorValue;
    int32_t *rowCount;
    uint8_t **rows;
    uint32_t arg5;
    TableDescriptor *table;
    uint32_t arg7, arg8, arg9;
    int16_t arg10;
    uint32_t arg11;
    bool operator==(const HandlerCall &) const = default;
};

// How the host loads the plug-in. The defaults come from the environment,
// so that a test program can be run once more another way unchanged:
// TOLMAR_HOST_RELOCATE=1 sets occupyPreferredBase, TOLMAR_HOST_ENV=dos sets
// dosExtender.
struct LoadOptions {
    // Reserve the DLL's preferred base before loading it, so that the loader
    // must relocate it; a load that lands there all the same fails.
    bool occupyPreferredBase = false;
    // Run as the host under the 32-bit DOS extender: the plug-in's kernel
    // imports are bound to the extender's kernel emulation, DOSXKERN.dll
    // (host/dosx/dosx.h), by loading a copy of the DLL whose import entry
    // "KERNEL32.dll" names it instead.
    bool dosExtender = false;
    // What the emulation's kernel lacks. By default three of the functions
    // that the runtime's start binds: GetCPInfo, which the host's executable
    // exports, and GetEnvironmentStringsW and FreeEnvironmentStringsW, which
    // HostQuery serves by name.
    std::vector<std::string> kernelLacks = {"GetCPInfo", "GetEnvironmentStringsW",
                                            "FreeEnvironmentStringsW"};

    static LoadOptions FromEnvironment();
};

// A message box of the system's MessageBoxA (SystemMessageBox), as the
// plug-in passed it (under the DOS extender: Mazovia, control bytes
// included).
struct SystemBox {
    HWND owner;
    std::string text, caption;
    uint32_t style;
    bool operator==(const SystemBox &) const = default;
};

// What HostQuery serves. Own: the host's services by number, except those
// it lacks, and its procedures by name (HostProcedures). OnlyOffered:
// nothing but what is offered (OfferEntry, serviceOverrides,
// OfferProcedure), for a program that runs the binding layer without the
// DLL and names every address it may get.
enum class Offers { Own, OnlyOffered };

class StandInHost {
public:
    explicit StandInHost(Offers offers = Offers::Own);
    ~StandInHost();
    StandInHost(const StandInHost &) = delete;
    StandInHost &operator=(const StandInHost &) = delete;

    // The host instance that the services serve; one at a time.
    static StandInHost &Current();
    static StandInHost *Active(); // null when there is none

    // Plug-in.
    LoadOptions loadOptions = LoadOptions::FromEnvironment();
    bool Load(const char *path = "Tolmar.dll");
    void Unload();
    int32_t Start(char *title);
    int32_t Stop(char *title = nullptr);
    HMODULE module() const { return module_; }
    // The base the DLL's headers ask for, read from its file by Load.
    uintptr_t preferredBase() const { return preferredBase_; }
    bool relocated() const
    {
        return module_ && reinterpret_cast<uintptr_t>(module_) != preferredBase_;
    }
    // The file the loader loaded: the DLL itself, or under the DOS extender
    // its copy bound to the emulation (deleted again by Unload).
    const std::string &loadedFile() const { return loadedFile_; }
    const std::string &pluginFile() const { return pluginFile_; }
    // Under the DOS extender: the emulation's module, else null.
    HMODULE dosExtender() const { return dosx_; }

    // The system's message boxes (SystemMessageBox): the DOS extender's, or
    // those of a test that put SystemMessageBox in the plug-in's MessageBoxA
    // cell. Recorded, then answered by showSystemBox when set, else from
    // systemBoxAnswers; when none is left, 0 (the box cannot be shown).
    std::vector<SystemBox> systemBoxes;
    std::deque<int> systemBoxAnswers;
    std::function<int(const SystemBox &)> showSystemBox;
    // The emulation's lookups as the plug-in made them, one line each:
    // GetProcAddress(kernel, "GetCPInfo") -> null. Modules are named
    // kernel (the emulation), host (the executable), or by address.
    std::vector<std::string> kernelCalls;

    // HostQuery, code 2: by entry number or by procedure name. Every call
    // is traced; another code is answered with 0.
    intptr_t Query(int32_t code, const void *argument);
    void LackEntry(uint32_t number) { missing_.insert(number); }
    // A test's own service in place of the host's; set before its first call.
    std::map<uint32_t, void *> serviceOverrides;
    // Offers an entry from now on, also one the host lacks (by default
    // HostConvertText): the host's own service, or the test's function.
    void OfferEntry(uint32_t number) { missing_.erase(number); }
    void OfferEntry(uint32_t number, void *address)
    {
        missing_.erase(number);
        serviceOverrides[number] = address;
    }
    // Procedures HostQuery serves by name. The host has its own
    // GetEnvironmentStringsW and FreeEnvironmentStringsW (host/dos_extender.cpp);
    // its executable exports GetCPInfo.
    void OfferProcedure(const std::string &name, void *address) { procedures_[name] = address; }
    void WithdrawProcedure(const std::string &name) { procedures_.erase(name); }
    int QueryCount(uint32_t number) const;

    // Call trace: one line per service call, "HostGetTable(45)".
    std::vector<std::string> trace;
    void Record(std::string line) { trace.push_back(std::move(line)); }
    std::vector<std::string> Queries() const; // the HostQuery lines only
    std::vector<std::string> NameQueries() const; // the names asked for, in order

    // Table 45, the sales-document table.
    TableDescriptor salesDoc{};
    bool salesDocAvailable = true;
    std::vector<HandlerCall> handlerCalls; // calls that reached the host's own handler
    int32_t handlerResult = 0x5A5A;
    // Calls the table's handler as the host does, and ends the program with
    // its reason (exit code 5) when the handler did not remove its eleven
    // arguments or left the x87 stack otherwise than it found it.
    int32_t RaiseEvent(int32_t event, int16_t editorValue, int32_t *rowCount, uint8_t **rows,
                       uint32_t arg5, TableDescriptor *table, uint32_t arg7, uint32_t arg8,
                       uint32_t arg9, int16_t arg10, uint32_t arg11);
    static int32_t __stdcall OwnSalesDocHandler(int32_t, int16_t, int32_t *, uint8_t **, uint32_t,
                                                TableDescriptor *, uint32_t, uint32_t, uint32_t,
                                                int16_t, uint32_t);

    // Settings, section/key -> text as stored.
    std::map<std::string, std::string> profile;
    bool profileUnreadable = false;

    // Notice box: what it showed, and the answer it leaves (unset: unchanged).
    std::vector<std::string> notices;
    std::function<void(int16_t *answer)> noticeScript;

    // Message boxes shown through the host.
    std::vector<Message> messages;

    // Tables 44, 58, 67, the rows of table 45, heap, scans, dates (data.cpp).
    HostData data;

    // Forms (forms.cpp): the screen they are drawn on, and the keys the user
    // presses, taken in order. A form waiting when none are left ends as
    // with Esc.
    Screen screen;
    std::deque<uint16_t> keys;
    // Asked when a form waits and `keys` is empty; may queue keys, and
    // returns false when no more will come (see FormEngine::awaitKeys).
    std::function<bool()> awaitKeys;
    // Called for every message box shown, after it is recorded: the
    // interactive program and the scripted session draw it on the screen.
    std::function<void(const Message &)> showMessage;
    void Type(std::string_view text)
    {
        for (char c : text)
            keys.push_back(static_cast<uint8_t>(c));
    }

private:
    HMODULE module_ = nullptr;
    PluginEntryFunction entry_ = nullptr;
    uintptr_t preferredBase_ = 0;
    void *occupied_ = nullptr; // the reservation at the preferred base
    std::string pluginFile_, loadedFile_;
    HMODULE dosx_ = nullptr;
    std::string copy_;    // the DLL's copy bound to the emulation
    std::string lacking_; // kernelLacks as the emulation takes them

    // host/dos_extender.cpp
    bool StartDosExtender();
    std::string WriteDosCopy(const image::PeFile &file);
    void EndDosExtender();
    static void __cdecl KernelNote(const char *, HMODULE, const char *, const void *);
    std::string ModuleName(HMODULE module) const;
    Offers offers_;
    // Entries HostQuery answers with 0. HostConvertText (52158) by default:
    // the stand-in host never offered it to the plug-in.
    std::set<uint32_t> missing_ = {52158};
    std::map<std::string, void *> procedures_;
    std::vector<uint8_t> salesRecord_;
};

intptr_t __cdecl HostQueryCallback(int32_t code, const void *argument);

// The system's MessageBoxA as the current host answers it (systemBoxes).
// The DOS extender's emulation shows its boxes through it; a test without a
// display puts it in the plug-in's own MessageBoxA cell. With no host, the
// box cannot be shown: 0.
int WINAPI SystemMessageBox(HWND owner, const char *text, const char *caption, UINT style);

// The procedures the host serves by name from the start (host/dos_extender.cpp).
std::map<std::string, void *> HostProcedures();

// The address of the host's own service with that number, or null.
void *ServiceAddress(uint32_t number);

// Where the loader finds a library given by a bare name: beside the program
// first, then the current directory. A path with a folder is kept.
std::string LibraryPath(const std::string &name);

} // namespace host
