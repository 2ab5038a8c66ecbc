// The stand-in host's model of the DOS extender's kernel emulation,
// DOSXKERN.dll, and what the host tells it (DosxConfigure).
//
// Under the 32-bit DOS extender the extender's own loader binds the
// plug-in's KERNEL32.dll imports to its kernel emulation. The stand-in host
// does the same with the system loader: it loads a copy of Tolmar.dll whose
// import entry "KERNEL32.dll" names this library instead (the same twelve
// characters, overwritten in place; host/dos_extender.cpp).
//
// The emulation exports every kernel function that Tolmar.dll imports,
// forwarded to the real kernel, and "Borland32". Its GetModuleHandleA and
// LoadLibraryA answer the kernel library's names with its own module;
// LoadLibraryA answers USER32.dll with it too, since the extender's
// user-interface emulation draws its message boxes in text mode, which the
// host does for it. Its GetProcAddress answers null for every name the
// kernel lacks, which the host chooses.
#pragma once
#include <windows.h>

extern "C" {

struct DosxHost {
    // The names the kernel lacks, each ended by a zero byte, the list by an
    // empty name; null for none.
    const char *lacking;
    // The extender's MessageBoxA, drawn by the host; null: the box cannot
    // be shown (0).
    int(WINAPI *messageBox)(HWND owner, const char *text, const char *caption, UINT style);
    // Told of every call of the emulation's GetModuleHandleA, LoadLibraryA
    // and GetProcAddress, with what it answered; may be null.
    void(__cdecl *note)(const char *function, HMODULE module, const char *name,
                        const void *result);
};

// Copies what it needs; null puts the defaults back (nothing lacking, no
// box, no notes).
using DosxConfigureFunction = void(WINAPI *)(const DosxHost *host);

} // extern "C"

// The emulation's file name: as long as "KERNEL32.dll", so that it can take
// that name's place in the plug-in's import table.
constexpr char kDosxLibrary[] = "DOSXKERN.dll";
constexpr char kKernelLibrary[] = "KERNEL32.dll";
static_assert(sizeof kDosxLibrary == sizeof kKernelLibrary);
