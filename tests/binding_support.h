// What the binding tests share besides the stand-in host, which they
// configure to serve only what each case offers (host/stand_in_host.h):
// cell replacement, a catcher for the faults and exceptions that bindings
// may raise, PAKTO.dll's exchange with its record, and register probes. The
// binding layer's library (the DLL's own objects) is linked into the test
// program; tests/binding_support.cpp stands in for what it takes from the
// plug-in's frame.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/delay_load.h"

// The module's own cells: the delay-loaded MessageBoxA and the regular
// import of GetModuleFileNameA.
extern "C" void *MessageBoxCell __asm__("__imp__MessageBoxA@16");
extern "C" void *ModuleFileNameCell __asm__("__imp__GetModuleFileNameA@12");

// Puts value into a cell for the scope, and the old value back after.
class CellOverride {
public:
    CellOverride(void **cell, void *value);
    ~CellOverride();
    CellOverride(const CellOverride &) = delete;
    CellOverride &operator=(const CellOverride &) = delete;

private:
    void **cell_;
    void *saved_;
};
void WriteCell(void **cell, void *value);

// Catches, for its scope: an access violation at address 0 (a call through
// a null slot), which it ends by returning kFaultResult to the caller of the
// slot; and the delay-load exceptions, which it resumes so that the binding
// routine returns null.
class FaultCatcher {
public:
    static constexpr DWORD kFaultResult = 0xFA017;
    struct Caught {
        DWORD code;
        void *address;
        std::string library, function; // from the DelayLoadInfo, for delay-load exceptions
        const void *infoCell;
    };
    FaultCatcher();
    ~FaultCatcher();
    std::vector<Caught> caught;

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS *pointers);
    void *handle_;
};

// The exchange that the binding routine takes from PAKTO.dll: here it
// records its calls, and can act out another binder that stores the same
// module into raceCell just before it.
struct ExchangeRecord {
    std::vector<std::pair<volatile LONG *, LONG>> calls;
    volatile LONG *raceCell = nullptr;
    int CallsOn(const void *cell) const;
};
extern ExchangeRecord exchangeRecord;

// Register-level helpers (tests/binding_probe.S).
extern "C" {
extern uint32_t CallerRegs[7]; // eax ecx edx ebx esi edi ebp
extern uint32_t ProbeSeen[10]; // eax ecx edx ebx esp ebp esi edi, argument, calls
extern uint32_t CallerEspAtCall, CallerEspAfter, CallerEaxAfter;
void CallWithRegisters(const void *target, int argumentCount);
void CallRealWithRegisters(const void *target, int argumentCount);
extern double CallerRealAfter;
int32_t __stdcall RegisterProbe(int32_t argument);
}
