// DOSXKERN.dll: the stand-in DOS extender's kernel emulation (see dosx.h).
// No runtime: the kernel's own functions only.
#include "host/dosx/dosx.h"

#include <cstdint>

namespace {

HMODULE self;
DosxHost host;           // the callbacks; the lacking list is copied below
char lacking[4096];      // names, each ended by a zero byte, then an empty name

bool IsName(const char *name) { return reinterpret_cast<uintptr_t>(name) >= 0x10000; }

bool Same(const char *a, const char *b) { return lstrcmpiA(a, b) == 0; }

// "kernel32.dll", "KERNEL32.dll", "Kernel32", ...
bool KernelName(const char *name) { return Same(name, "kernel32.dll") || Same(name, "kernel32"); }
bool UserName(const char *name) { return Same(name, "user32.dll") || Same(name, "user32"); }

bool Lacks(const char *name)
{
    for (const char *n = lacking; *n; n += lstrlenA(n) + 1)
        if (lstrcmpA(n, name) == 0)
            return true;
    return false;
}

void Note(const char *function, HMODULE module, const char *name, const void *result)
{
    if (host.note)
        host.note(function, module, name, result);
}

// Its own module with one more reference, as LoadLibraryA gives.
HMODULE LoadSelf()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    return n && n < MAX_PATH ? LoadLibraryA(path) : nullptr;
}

} // namespace

extern "C" {

BOOL WINAPI DosxMain(HINSTANCE module, DWORD reason, void *)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = module;
    return TRUE;
}

// The export by which programs recognise the DOS extender.
int WINAPI DosxBorland32() { return 1; }

HMODULE WINAPI DosxGetModuleHandleA(const char *name)
{
    HMODULE module = name && KernelName(name) ? self : GetModuleHandleA(name);
    Note("GetModuleHandleA", nullptr, name, module);
    return module;
}

HMODULE WINAPI DosxLoadLibraryA(const char *name)
{
    HMODULE module = name && (KernelName(name) || UserName(name)) ? LoadSelf() : LoadLibraryA(name);
    Note("LoadLibraryA", nullptr, name, module);
    return module;
}

FARPROC WINAPI DosxGetProcAddress(HMODULE module, const char *name)
{
    FARPROC found = module == self && IsName(name) && Lacks(name) ? nullptr
                                                                  : GetProcAddress(module, name);
    Note("GetProcAddress", module, name, reinterpret_cast<const void *>(found));
    return found;
}

int WINAPI DosxMessageBoxA(HWND owner, const char *text, const char *caption, UINT style)
{
    return host.messageBox ? host.messageBox(owner, text, caption, style) : 0;
}

void WINAPI DosxConfigure(const DosxHost *given)
{
    host = given ? *given : DosxHost{};
    host.lacking = nullptr;
    int at = 0;
    if (given && given->lacking)
        for (const char *n = given->lacking; *n; n += lstrlenA(n) + 1) {
            int length = lstrlenA(n);
            if (at + length + 2 > static_cast<int>(sizeof lacking))
                break;
            lstrcpyA(lacking + at, n);
            at += length + 1;
        }
    lacking[at] = 0;
}

} // extern "C"
