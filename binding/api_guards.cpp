// Installation of the system call guards: each guarded import slot gets its
// guard, and the guard's row gets what the slot held.
#include "binding/api_guards.h"

#include <cstdint>

#include "plugin/host_services.h"

extern "C" {
// binding/api_guards.S: row i holds the address of an import slot until the
// installation, the slot's former content after it; guard i calls through
// row i.
extern void *ApiGuardTable[API_GUARD_ROWS];
extern void *const ApiGuardCode[API_GUARD_ROWS];

// Zero at load, 1 once the guards are in; never cleared.
uint8_t GuardsInstalled;
}

// The import slot of CreateProcessA.
extern void *CreateProcessImportSlot __asm__("__imp__CreateProcessA@40");

void InstallApiGuards()
{
    if (GuardsInstalled)
        return;
    GuardsInstalled = 1;
    for (int i = 0; i < API_GUARD_ROWS; ++i) {
        void **slot = static_cast<void **>(ApiGuardTable[i]);
        void *held = *slot;
        *slot = ApiGuardCode[i];
        ApiGuardTable[i] = held;
    }
    // CreateProcessA goes to the host: its slot now enters the entry thunk of
    // HostCreateProcess, in place of the guard just written there.
    CreateProcessImportSlot = reinterpret_cast<void *>(&HostCreateProcess);
}
