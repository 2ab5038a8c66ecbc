// Base relocations: every absolute address that the binding layer keeps in
// its tables and code is fixed up when the module loads elsewhere than at
// its preferred base, and no plain number or data byte is.
#include "check.h"
#include "expected.h"

#include <set>

namespace image {
namespace {

namespace ex = expected;

void Relocated(Check &c, const std::set<uint32_t> &fixups, uint32_t va, bool expected,
               const std::string &what)
{
    c.That(fixups.count(va) == (expected ? 1u : 0u),
           what + " at " + Hex(va) +
               (expected ? " has no base relocation" : " has a base relocation"));
}

// Slots, thunks, guard rows and their code, fallback stubs, delay-import
// descriptors, cells and stubs, and the notification hook.
void AbsoluteAddresses(const PeFile &pe, Check &c)
{
    std::set<uint32_t> fixups = pe.Relocations();
    unsigned slots = 0;
    for (const auto &[name, addresses] : pe.symbols()) {
        if (!name.starts_with("EntrySlot_"))
            continue;
        std::string suffix = name.substr(10);
        uint32_t slot = pe.Symbol(name);
        uint32_t jump = pe.Symbol("_HostEntry_" + suffix);
        uint32_t first = pe.Symbol("FirstCall_" + suffix);
        Relocated(c, fixups, slot, true, "slot of " + suffix);
        Relocated(c, fixups, jump + 2, true, "jump piece of " + suffix);
        Relocated(c, fixups, first + 1, true, "first-call piece of " + suffix + ", its jump piece");
        Relocated(c, fixups, first + 7, true, "first-call piece of " + suffix + ", its slot");
        Relocated(c, fixups, first + 12, false, "first-call piece of " + suffix + ", its number");
        ++slots;
    }
    c.Equal(slots, ex::kEntries, "slots");

    uint32_t rows = pe.Symbol("_ApiGuardTable"), code = pe.Symbol("_ApiGuardCode");
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        const ex::Guard &g = ex::kGuardTable[i];
        std::string what = "guard row " + std::to_string(i);
        Relocated(c, fixups, rows + 4 * i, true, what);
        Relocated(c, fixups, code + 4 * i, true, "ApiGuardCode row " + std::to_string(i));
        uint32_t guard = pe.Symbol("ApiGuard_" + std::string(g.name));
        Relocated(c, fixups, guard + 1 + 4 * g.arguments + 2, true, "call of " + what);
    }

    uint32_t stubs = pe.Symbol("_FallbackStubTable");
    for (unsigned k = 0; k < ex::kFallbackStubs; ++k)
        Relocated(c, fixups, stubs + 4 * k, true, "fallback stub table row " + std::to_string(k));

    for (const DelayLibrary &lib : pe.DelayImports()) {
        const char *fields[8] = {"attributes", "name",        "module-handle cell", "address table",
                                 "name table", "bound table", "unload table",       "time stamp"};
        for (uint32_t i = 0; i < 8; ++i)
            Relocated(c, fixups, lib.descriptor + 4 * i, i >= 1 && i <= 5,
                      lib.name + " descriptor: " + fields[i]);
        for (size_t i = 0; i < lib.functions.size(); ++i) {
            const DelayLibrary::Function &f = lib.functions[i];
            Relocated(c, fixups, f.cell, true, lib.name + " " + f.name + ": address cell");
            Relocated(c, fixups, lib.nameTable + 4 * static_cast<uint32_t>(i), true,
                      lib.name + " " + f.name + ": name table entry");
            Relocated(c, fixups, f.cellValue + 1, true, lib.name + " " + f.name + ": binding stub");
        }
    }
    Relocated(c, fixups, pe.Symbol("ZundaTailMerge") + 4, true, "ZUNDA.dll tail's descriptor");
    Relocated(c, fixups, pe.Symbol("User32TailMerge") + 4, true, "USER32.dll tail's descriptor");
    Relocated(c, fixups, pe.Symbol("___pfnDliNotifyHook2"), true, "notification hook");
}

// Numbers and bytes that must stay as they are: the hundred series and
// FormTable.
void PlainData(const PeFile &pe, Check &c)
{
    std::set<uint32_t> fixups = pe.Relocations();
    c.That(!fixups.empty(), "the image has no base relocations");
    uint32_t hundred = pe.Symbol("_HundredSeriesTable");
    for (unsigned i = 0; i < ex::kHundredEntries; ++i)
        Relocated(c, fixups, hundred + 4 * i, false, "hundred series row " + std::to_string(i));
    uint32_t form = pe.Symbol("_FormTable");
    auto inside = fixups.lower_bound(form - 3);
    c.That(inside == fixups.end() || *inside >= form + 646,
           "FormTable has a base relocation at " + (inside == fixups.end() ? "" : Hex(*inside)));
}

} // namespace

const std::vector<Case> &RelocationCases()
{
    static const std::vector<Case> cases = {
        {"relocations/absolute-addresses", AbsoluteAddresses},
        {"relocations/plain-data", PlainData},
    };
    return cases;
}

} // namespace image
