// The environment probe at load: DOS extender, Windows 9x or Windows NT.
#pragma once
#include <cstdint>

enum EnvKind : int32_t { EnvWinNt = 0, EnvWin9x = 1, EnvDosExtender = 2 };

// The lookups the probe needs, passed in so that each branch can be tried.
struct ProbeLookups {
    void *(*moduleHandle)(const char *name);
    void *(*procAddress)(void *module, const char *name);
    uint32_t (*version)();
};
EnvKind ProbeEnvironment(const ProbeLookups &lookups);
