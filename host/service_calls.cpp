// Every call of a stand-in host service is checked against the calling
// convention the list of services gives it (hostapi/service_list.h):
// the service is entered through its wrapper (host/service_wrappers.S),
// which hands the call back here when the service returns.
//
// Two checks, each of which ends the program with its reason (exit code 5),
// so that the test that made the call fails:
// - the service removed from the stack exactly what the list says;
// - at a call site in the plug-in's image, the code after the call agrees:
//   it does not take the service to have removed another number of bytes.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "host/service_calls.h"
#include "host/service_table.h"
#include "host/service_wrappers.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

struct ServiceInfo {
    uint32_t number;
    const char *name;
    uint32_t removedBytes; // what the service removes on return
};

#define TOLMAR_SERVICE_INFO(number, name, convention, result, parameters)                        \
    {number, "Host" #name, TOLMAR_REMOVED_BYTES(convention, result, parameters)},
constexpr ServiceInfo kServiceInfo[] = {TOLMAR_HOST_SERVICES(TOLMAR_SERVICE_INFO)};
#undef TOLMAR_SERVICE_INFO
constexpr size_t kServiceCount = sizeof kServiceInfo / sizeof kServiceInfo[0];
static_assert(kServiceCount <= TOLMAR_SERVICE_WRAPPERS, "more services than wrapper entries");

struct ServiceFrame {
    const uint8_t *returnAddress;
    uintptr_t espWithoutReturn; // esp at the call, less the return address
    uint32_t index;
    uint32_t callerEbx; // the wrapper keeps the frame's address in ebx meanwhile
};
static_assert(sizeof(ServiceFrame) == TOLMAR_SERVICE_FRAME_SIZE);
static_assert(offsetof(ServiceFrame, returnAddress) == TOLMAR_SERVICE_FRAME_RETURN);
static_assert(offsetof(ServiceFrame, espWithoutReturn) == TOLMAR_SERVICE_FRAME_ESP);
static_assert(offsetof(ServiceFrame, index) == TOLMAR_SERVICE_FRAME_INDEX);
static_assert(offsetof(ServiceFrame, callerEbx) == TOLMAR_SERVICE_FRAME_EBX);

[[noreturn]] void Fail(const std::string &reason)
{
    std::fprintf(stderr, "stand-in host: %s\n", reason.c_str());
    std::fflush(stderr);
    ExitProcess(5);
}

std::string Hex(uintptr_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

// n for code that starts with sub $n, %esp.
std::optional<uint32_t> Readjustment(const uint8_t *code)
{
    if (code[0] == 0x83 && code[1] == 0xEC)
        return code[2];
    if (code[0] == 0x81 && code[1] == 0xEC) {
        uint32_t n;
        std::memcpy(&n, code + 2, sizeof n);
        return n;
    }
    return std::nullopt;
}

// Whether the code of an image passes arguments by storing them into a fixed
// area below its frame (calls followed by a readjustment of esp outnumber
// calls followed by a removal), as GCC does with -maccumulate-outgoing-args.
bool StoresArguments(HMODULE module)
{
    static std::map<HMODULE, bool> styles;
    if (auto known = styles.find(module); known != styles.end())
        return known->second;
    auto *base = reinterpret_cast<const uint8_t *>(module);
    auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    int readjusts = 0, removals = 0;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (!(section->Characteristics & IMAGE_SCN_CNT_CODE))
            continue;
        const uint8_t *code = base + section->VirtualAddress;
        for (uint32_t at = 0; at + 7 <= section->Misc.VirtualSize; ++at) {
            if (code[at] != 0xE8 || code[at + 5] != 0x83)
                continue;
            readjusts += code[at + 6] == 0xEC;
            removals += code[at + 6] == 0xC4;
        }
    }
    return styles[module] = readjusts > removals;
}

HMODULE ModuleOf(const void *address)
{
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(address, &info, sizeof info))
        return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

} // namespace

// The bytes the code at the return address takes the service to have
// removed, when they differ from what it removes; else nothing. The
// compiler readjusts esp by what a __stdcall callee removed (sub $n, %esp)
// where it stores arguments, and removes pushed arguments of a __cdecl
// callee itself (add $n, %esp). Storing code that does not readjust by the
// service's bytes within a few instructions (optimised code schedules the
// readjustment a little later) takes it to remove nothing; pushing code
// that does not pop takes it to remove its arguments (left unchecked). A
// wrong convention in a declaration shows here, at the call site, which a
// check of esp when the outer call returns misses: frame pointers put esp
// right again.
std::optional<uint32_t> CallerExpects(const uint8_t *back, uint32_t removed, bool stores)
{
    constexpr int kWindow = 32;
    std::optional<uint32_t> expected;
    if ((back[0] == 0x83 || back[0] == 0x81) && back[1] == 0xC4)
        expected = 0;
    else if (auto n = Readjustment(back))
        expected = n;
    else if (!stores || removed == 0)
        return std::nullopt;
    else {
        expected = 0;
        for (int at = 0; at + 6 < kWindow; ++at)
            if (Readjustment(back + at) == removed)
                expected = removed;
    }
    if (*expected == removed)
        return std::nullopt;
    return expected;
}

extern "C" {

// The services, in the order of the list: the wrappers' targets.
#define TOLMAR_SERVICE_TARGET(number, name, convention, result, parameters)                      \
    reinterpret_cast<void *>(&Svc##name),
extern void *const ServiceTargets[] __asm__("_ServiceTargets");
void *const ServiceTargets[] = {
    TOLMAR_HOST_SERVICES(TOLMAR_SERVICE_TARGET)};
#undef TOLMAR_SERVICE_TARGET

extern char ServiceWrapperEntries[] __asm__("_ServiceWrapperEntries");

[[noreturn]] void __cdecl ServiceFramesExhausted() __asm__("_ServiceFramesExhausted");
void __cdecl ServiceFramesExhausted()
{
    Fail("more than " + std::to_string(TOLMAR_SERVICE_FRAMES) + " service calls nested");
}

// Called by the wrapper when the service has returned; gives back the
// caller's return address.
const uint8_t *__cdecl ServiceReturned(const ServiceFrame *frame, uintptr_t espAfter)
    __asm__("_ServiceReturned");
const uint8_t *__cdecl ServiceReturned(const ServiceFrame *frame, uintptr_t espAfter)
{
    const ServiceInfo &service = kServiceInfo[frame->index];
    std::string name = std::string(service.name) + " (" + std::to_string(service.number) + ")";
    uintptr_t removed = espAfter - frame->espWithoutReturn;
    if (removed != service.removedBytes)
        Fail(name + " removed " + std::to_string(static_cast<int32_t>(removed)) +
             " bytes of arguments; its convention removes " +
             std::to_string(service.removedBytes));
    HMODULE plugin = StandInHost::Current().module();
    if (plugin && ModuleOf(frame->returnAddress) == plugin) {
        if (auto expected = CallerExpects(frame->returnAddress, service.removedBytes,
                                          StoresArguments(plugin)))
            Fail(name + " removes " + std::to_string(service.removedBytes) +
                 " bytes of arguments, but its caller at " +
                 Hex(reinterpret_cast<uintptr_t>(frame->returnAddress)) +
                 " takes it to remove " + std::to_string(*expected));
    }
    return frame->returnAddress;
}

} // extern "C"

namespace {
void CheckBalance(const char *what, uint32_t removed)
{
    if (CheckedCallRemoved != removed)
        Fail(std::string(what) + " removed " +
             std::to_string(static_cast<int32_t>(CheckedCallRemoved)) +
             " bytes of arguments; it must remove " + std::to_string(removed));
    if (CheckedCallX87 != 0)
        Fail(std::string(what) + " left " + std::to_string(CheckedCallX87) +
             " values on the x87 stack");
}
} // namespace

int32_t CheckedCallback(const void *callback, int16_t value, const char *what)
{
    const uint32_t arguments[] = {static_cast<uint32_t>(static_cast<int32_t>(value)), 0};
    int32_t result = CheckedCall(callback, arguments, 2);
    CheckBalance(what, sizeof arguments); // callee cleans
    return result;
}

int32_t StandInHost::RaiseEvent(int32_t event, int16_t editorValue, int32_t *rowCount,
                                uint8_t **rows, uint32_t arg5, TableDescriptor *table,
                                uint32_t arg7, uint32_t arg8, uint32_t arg9, int16_t arg10,
                                uint32_t arg11)
{
    auto word = [](const void *p) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    };
    const uint32_t arguments[] = {static_cast<uint32_t>(event),
                                  static_cast<uint32_t>(static_cast<int32_t>(editorValue)),
                                  word(rowCount), word(rows), arg5, word(table), arg7, arg8, arg9,
                                  static_cast<uint32_t>(static_cast<int32_t>(arg10)), arg11};
    constexpr uint32_t kRemoved = sizeof arguments; // callee cleans
    int32_t result = CheckedCall(reinterpret_cast<const void *>(salesDoc.handler), arguments, 11);
    CheckBalance("the table handler", kRemoved);
    return result;
}

namespace {
Service MakeServices(size_t index)
{
    return {kServiceInfo[index].number,
            ServiceWrapperEntries + TOLMAR_SERVICE_WRAPPER_STRIDE * index};
}
struct ServiceTable {
    Service services[kServiceCount];
    ServiceTable()
    {
        for (size_t i = 0; i < kServiceCount; ++i)
            services[i] = MakeServices(i);
    }
};
} // namespace

// Every service of the list, at its wrapper entry.
std::span<const Service> Services()
{
    static const ServiceTable table;
    return table.services;
}

} // namespace host
