// The plug-in's own small runtime: heap, static initialisers and
// destructors, exception-frame registration, per-thread data and exit-time
// functions. It is started by the plug-in's start call, not at load.
#pragma once
#include <windows.h>

namespace rt {

// The runtime's module handler, called as a standard library entry point
// would call it: process attach starts the runtime, process detach ends it
// (only if it was started), thread detach releases the thread's data.
BOOL ModuleHandler(HINSTANCE module, DWORD reason, void *reserved);

// Per-thread data, created on first use.
struct ThreadData {
    void (*seTranslator)(unsigned int, EXCEPTION_POINTERS *);
    EXCEPTION_RECORD seRecord;
    CONTEXT seContext;
    EXCEPTION_POINTERS sePointers;
};
ThreadData *ThisThread();
void StartThreadData();   // at the runtime's start
void ReleaseThreadData(); // the calling thread's, at thread detach
void EndThreadData();     // at the runtime's end

} // namespace rt
