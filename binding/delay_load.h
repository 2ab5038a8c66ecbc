// Delay-load redirection: the delay-import records, the binding routine and
// the notification hook that steers it. The descriptors, tables and binding
// stubs are in binding/delay_imports.S.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// One delay-import descriptor in the old form (attributes 0): every
// reference is an absolute address.
struct DelayImportDescriptor {
    uint32_t attributes;
    const char *libraryName;
    HMODULE *moduleCell;
    FARPROC *addressTable;
    const uint32_t *nameTable;  // per function: address of its hint and name, or ordinal flag
    FARPROC *boundAddressTable; // present, not used
    FARPROC *unloadTable;       // none
    uint32_t timeStamp;
};
static_assert(sizeof(DelayImportDescriptor) == 32);
static_assert(offsetof(DelayImportDescriptor, moduleCell) == 8);
static_assert(offsetof(DelayImportDescriptor, addressTable) == 12);
static_assert(offsetof(DelayImportDescriptor, nameTable) == 16);
static_assert(offsetof(DelayImportDescriptor, timeStamp) == 28);

constexpr uint32_t kImportByOrdinalFlag = 0x80000000u;

// The platform's notification record.
struct DelayLoadProc {
    BOOL importByName;
    union {
        const char *name;
        DWORD ordinal;
    };
};

struct DelayLoadInfo {
    DWORD size;
    const DelayImportDescriptor *descriptor;
    FARPROC *cell;
    const char *libraryName;
    DelayLoadProc proc;
    HMODULE currentModule;
    FARPROC currentFunction;
    DWORD lastError;
};
static_assert(sizeof(DelayLoadInfo) == 36);
static_assert(offsetof(DelayLoadInfo, proc) == 16);
static_assert(offsetof(DelayLoadInfo, currentModule) == 24);
static_assert(offsetof(DelayLoadInfo, lastError) == 32);

enum DelayNotification : unsigned {
    dliStartProcessing = 0,
    dliNotePreLoadLibrary = 1,
    dliNotePreGetProcAddress = 2,
    dliFailLoadLib = 3,
    dliFailGetProc = 4,
    dliNoteEndProcessing = 5,
};

// Raised when a library or a function cannot be bound; the one argument
// points to the DelayLoadInfo.
constexpr DWORD kDelayLoadModuleNotFound = 0xC06D007E;
constexpr DWORD kDelayLoadProcNotFound = 0xC06D007F;

using DelayHook = FARPROC(WINAPI *)(unsigned notification, DelayLoadInfo *info);

extern "C" {

// The binding routine that every binding stub calls: binds the function of
// the cell and returns its address (callee cleans).
FARPROC __stdcall DelayLoadHelper(const DelayImportDescriptor *descriptor, FARPROC *cell);

// The notification hook, installed statically.
extern DelayHook __pfnDliNotifyHook2;

FARPROC WINAPI DelayNotifyHook(unsigned notification, DelayLoadInfo *info);
HMODULE RedirectLibrary(const char *libraryName);
FARPROC RedirectProc(HMODULE module, const char *libraryName, const char *function);
FARPROC LookupZundaProc(HMODULE module, const char *function);

// The two descriptors (and the zero descriptor that ends them).
extern const DelayImportDescriptor ZundaDelayDescriptor __asm__("_ZundaDelayDescriptor");
extern const DelayImportDescriptor User32DelayDescriptor __asm__("_User32DelayDescriptor");

} // extern "C"

// Sizes of the missing-function message.
struct MissingFunctionText {
    static constexpr int kBufferSize = 208;
    static constexpr UINT kStyle = MB_ICONINFORMATION | MB_OK;
};
static_assert(MissingFunctionText::kStyle == 0x40);
