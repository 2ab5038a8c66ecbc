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
#include "plugin/host_records.h"

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
// TOLMAR_HOST_RELOCATE=1 sets occupyPreferredBase.
struct LoadOptions {
    // Reserve the DLL's preferred base before loading it, so that the loader
    // must relocate it; a load that lands there all the same fails.
    bool occupyPreferredBase = false;

    static LoadOptions FromEnvironment();
};

class StandInHost {
public:
    StandInHost();
    ~StandInHost();
    StandInHost(const StandInHost &) = delete;
    StandInHost &operator=(const StandInHost &) = delete;

    // The host instance that the services serve; one at a time.
    static StandInHost &Current();

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

    // HostQuery, code 2: by entry number or by procedure name.
    intptr_t Query(int32_t code, const void *argument);
    void LackEntry(uint32_t number) { missing_.insert(number); }
    // A test's own service in place of the host's; set before its first call.
    std::map<uint32_t, void *> serviceOverrides;
    void OfferProcedure(const std::string &name, void *address) { procedures_[name] = address; }
    int QueryCount(uint32_t number) const;

    // Call trace: one line per service call, "HostGetTable(45)".
    std::vector<std::string> trace;
    void Record(std::string line) { trace.push_back(std::move(line)); }
    std::vector<std::string> Queries() const; // the HostQuery lines only

    // Table 45, the sales-document table.
    TableDescriptor salesDoc{};
    bool salesDocAvailable = true;
    std::vector<HandlerCall> handlerCalls; // calls that reached the host's own handler
    int32_t handlerResult = 0x5A5A;
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
    std::set<uint32_t> missing_;
    std::map<std::string, void *> procedures_;
    std::vector<uint8_t> salesRecord_;
};

intptr_t __cdecl HostQueryCallback(int32_t code, const void *argument);

// The address of the host's own service with that number, or null.
void *ServiceAddress(uint32_t number);

} // namespace host
