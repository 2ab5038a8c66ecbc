#include "plugin/probe.h"

EnvKind ProbeEnvironment(const ProbeLookups &lookups)
{
    // The DOS extender's kernel emulation exports this name; Windows does not.
    void *kernel = lookups.moduleHandle("kernel32.dll");
    if (kernel && lookups.procAddress(kernel, "Borland32"))
        return EnvDosExtender;
    return (lookups.version() & 0x80000000u) ? EnvWin9x : EnvWinNt;
}
