// The delay-load binding routine and the hook that redirects it: ZUNDA.dll
// is served by the kernel library, then the host's executable, then the
// host's HostQuery; wsprintfA by the runtime's own formatter.
#include "binding/delay_load.h"

#include "plugin/plugin.h"
#include "plugin/runtime/format.h"

namespace {

constexpr char kZunda[] = "ZUNDA.dll";
constexpr char kKernel[] = "KERNEL32.dll";
constexpr char kFormatterName[] = "wsprintfA";
constexpr char kMessageBoxName[] = "MessageBoxA";
constexpr char kUser[] = "USER32.DLL";
constexpr char kGdi[] = "GDI32.DLL";
constexpr char kMissingFormat[] = "Nie znaleziono\n%s\nfrom %s";
constexpr char kMissingTitle[] = "Blad wtyczki";

// The module-handle cell is written by an atomic exchange, taken from
// PAKTO.dll (not the compiler's intrinsic).
extern "C" LONG(WINAPI *const ExchangeModuleCell)(volatile LONG *, LONG)
    __asm__("__imp__PaktoInterlockedExchange@8");

bool SameBytes(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

bool IsOrdinal(const char *function) { return reinterpret_cast<uintptr_t>(function) < 0x10000; }

FARPROC AskHost(const char *function)
{
    if (!HostQuery)
        return nullptr;
    return reinterpret_cast<FARPROC>(HostQuery(kHostQueryProcedure, function));
}

FARPROC Notify(unsigned notification, DelayLoadInfo *info)
{
    DelayHook hook = __pfnDliNotifyHook2;
    return hook ? hook(notification, info) : nullptr;
}

// Raises the delay-load exception; returns what a handler that resumed
// execution left as the function (normally null).
FARPROC Fail(DWORD code, DelayLoadInfo *info)
{
    info->lastError = GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(code, 0, 1, &argument);
    return info->currentFunction;
}

} // namespace

extern "C" {

DelayHook __pfnDliNotifyHook2 = DelayNotifyHook;

FARPROC __stdcall DelayLoadHelper(const DelayImportDescriptor *descriptor, FARPROC *cell)
{
    // 1. The record, and the start notification.
    DelayLoadInfo info{};
    info.size = sizeof info;
    info.descriptor = descriptor;
    info.cell = cell;
    info.libraryName = descriptor->libraryName;
    uint32_t name = descriptor->nameTable[cell - descriptor->addressTable];
    if (name & kImportByOrdinalFlag) {
        info.proc.importByName = FALSE;
        info.proc.ordinal = name & 0xFFFF;
    } else {
        info.proc.importByName = TRUE;
        info.proc.name = reinterpret_cast<const char *>(name) + sizeof(uint16_t); // past the hint
    }
    info.currentModule = *descriptor->moduleCell;
    if (FARPROC answer = Notify(dliStartProcessing, &info))
        return answer; // used as it is, the cell stays as it was

    // 2. The library, once per descriptor.
    HMODULE module = info.currentModule;
    if (!module) {
        module = reinterpret_cast<HMODULE>(Notify(dliNotePreLoadLibrary, &info));
        if (!module)
            module = LoadLibraryA(descriptor->libraryName);
        if (!module)
            return Fail(kDelayLoadModuleNotFound, &info);
        HMODULE previous = reinterpret_cast<HMODULE>(ExchangeModuleCell(
            reinterpret_cast<volatile LONG *>(descriptor->moduleCell),
            static_cast<LONG>(reinterpret_cast<uintptr_t>(module))));
        if (previous == module)
            FreeLibrary(module); // another binding got there first
        info.currentModule = module;
    }

    // 3. The function.
    FARPROC function = Notify(dliNotePreGetProcAddress, &info);
    if (!function)
        function = GetProcAddress(module, info.proc.importByName
                                              ? info.proc.name
                                              : MAKEINTRESOURCEA(info.proc.ordinal));
    if (!function)
        return Fail(kDelayLoadProcNotFound, &info);

    // 4. Bound: later calls go straight to it.
    *cell = function;
    info.currentFunction = function;
    Notify(dliNoteEndProcessing, &info);
    return function;
}

FARPROC WINAPI DelayNotifyHook(unsigned notification, DelayLoadInfo *info)
{
    switch (notification) {
    case dliNotePreLoadLibrary:
        return reinterpret_cast<FARPROC>(RedirectLibrary(info->libraryName));
    case dliNotePreGetProcAddress:
        return RedirectProc(info->currentModule, info->libraryName,
                            info->proc.importByName
                                ? info->proc.name
                                : MAKEINTRESOURCEA(info->proc.ordinal));
    default:
        return nullptr;
    }
}

HMODULE RedirectLibrary(const char *libraryName)
{
    if (SameBytes(libraryName, kZunda))
        return LoadLibraryA(kKernel);
    return nullptr;
}

FARPROC RedirectProc(HMODULE module, const char *libraryName, const char *function)
{
    if (IsOrdinal(function))
        return nullptr;
    if (SameBytes(function, kFormatterName))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&TolmarFormat));
    if (SameBytes(function, kMessageBoxName))
        return nullptr; // the system's, bound by the routine itself
    if (lstrcmpiA(libraryName, kGdi) == 0 || lstrcmpiA(libraryName, kUser) == 0) {
        if (FARPROC found = AskHost(function))
            return found;
        return GetProcAddress(module, function);
    }
    if (lstrcmpA(libraryName, kZunda) == 0) {
        FARPROC found = LookupZundaProc(module, function);
        if (!found) {
            char text[MissingFunctionText::kBufferSize];
            FormatBounded(text, sizeof text, kMissingFormat, function, libraryName);
            MessageBoxA(nullptr, text, kMissingTitle, MissingFunctionText::kStyle);
        }
        return found;
    }
    return nullptr;
}

FARPROC LookupZundaProc(HMODULE module, const char *function)
{
    if (FARPROC found = GetProcAddress(module, function))
        return found;
    if (FARPROC found = GetProcAddress(GetModuleHandleA(nullptr), function))
        return found;
    return AskHost(function);
}

} // extern "C"
