// The host's numbered services that the plug-in calls, declared from the one
// list of them (hostapi/service_list.h).
//
// Each declaration names the service's entry number (the assembler label of
// its entry thunk, see binding/entry_thunks.S), its calling convention and
// its arguments. Callers use these as ordinary functions; the first call of
// each binds it through HostQuery.
//
// __stdcall: the service removes its arguments. __cdecl: the caller does.
#pragma once
#include <cstdint>
#include "hostapi/records.h"
#include "hostapi/service_list.h"

#define HOST_ENTRY(number) __asm__("_HostEntry_" #number)

extern "C" {

#define TOLMAR_DECLARE_SERVICE(number, name, convention, result, parameters)                     \
    result TOLMAR_CONVENTION(convention) Host##name parameters HOST_ENTRY(number);
TOLMAR_HOST_SERVICES(TOLMAR_DECLARE_SERVICE)
#undef TOLMAR_DECLARE_SERVICE

} // extern "C"
