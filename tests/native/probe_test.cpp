// The environment probe's three branches, with the lookups injected.
#include <gtest/gtest.h>

#include <string>

#include "plugin/probe.h"

namespace {

struct Case {
    const char *name;
    bool hasBorland32;
    uint32_t version;
    EnvKind expected;
};

const Case *current;
void *moduleHandle(const char *) { return reinterpret_cast<void *>(0x10000); }
void *procAddress(void *, const char *name)
{
    return current->hasBorland32 && std::string(name) == "Borland32"
               ? reinterpret_cast<void *>(0x1234)
               : nullptr;
}
uint32_t version() { return current->version; }

TEST(Probe, Branches)
{
    const Case cases[] = {
        {"dos extender, whatever the version", true, 0x80000004u, EnvDosExtender},
        {"dos extender with an NT version", true, 0x00000105u, EnvDosExtender},
        {"windows 9x: bit 31 set", false, 0xC0000A04u, EnvWin9x},
        {"windows nt: bit 31 clear", false, 0x0A280105u, EnvWinNt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        current = &c;
        EXPECT_EQ(ProbeEnvironment({moduleHandle, procAddress, version}), c.expected);
    }
}

} // namespace
