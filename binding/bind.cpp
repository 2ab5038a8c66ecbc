// Binding of the host's numbered entries on their first call.
#include <cstdint>

#include "plugin/plugin.h"

extern "C" void __stdcall BindEntry(uint32_t number, void **slot)
{
    *slot = reinterpret_cast<void *>(
        HostQuery(kHostQueryProcedure, reinterpret_cast<const void *>(uintptr_t{number})));
}
