// The guard table as it lies in the image, against the 129 guarded
// functions typed in expected.h: rows and guards in order, every guard's
// code with its argument count, every row pointing at its own function's
// import slot in writable data, and the kernel imports being exactly the
// guarded and the unguarded ones.
#include "check.h"
#include "expected.h"

#include <algorithm>
#include <map>

namespace image {
namespace {

namespace ex = expected;

constexpr unsigned kPushalBytes = 32;

std::string SlotSymbol(const ex::Guard &g)
{
    return "__imp__" + std::string(g.name) + "@" + std::to_string(4 * g.arguments);
}

// Names of the local symbols that begin with `prefix`, by address.
std::vector<std::string> ByAddress(const PeFile &pe, const std::string &prefix)
{
    std::vector<std::pair<uint32_t, std::string>> found;
    for (const auto &[name, addresses] : pe.symbols())
        if (name.starts_with(prefix))
            for (uint32_t a : addresses)
                found.emplace_back(a, name.substr(prefix.size()));
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (const auto &f : found)
        out.push_back(f.second);
    return out;
}

std::vector<std::string> ExpectedNames()
{
    std::vector<std::string> out;
    for (const ex::Guard &g : ex::kGuardTable)
        out.emplace_back(g.name);
    return out;
}

// Kernel import slots by function name.
std::map<std::string, uint32_t> KernelSlots(const PeFile &pe)
{
    std::map<std::string, uint32_t> out;
    for (const ImportedFunction &f : pe.Imports())
        if (f.dll == ex::kKernel)
            out[f.name] = f.slot;
    return out;
}

std::map<std::string, uint32_t> ZundaCells(const PeFile &pe)
{
    std::map<std::string, uint32_t> out;
    for (const DelayLibrary &lib : pe.DelayImports())
        if (lib.name == ex::kZunda)
            for (const DelayLibrary::Function &f : lib.functions)
                out[f.name] = f.cell;
    return out;
}

// Row i at ApiGuardTable + 4i, in writable data, rows and guards in the
// table's order.
void Rows(const PeFile &pe, Check &c)
{
    uint32_t table = pe.Symbol("_ApiGuardTable");
    c.Equal(ByAddress(pe, "ApiGuardRow_"), ExpectedNames(), "rows, by address");
    c.Equal(ByAddress(pe, "ApiGuard_"), ExpectedNames(), "guards, by address");
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        std::string name(ex::kGuardTable[i].name);
        c.Equal(pe.Symbol("ApiGuardRow_" + name), table + 4 * i,
                "row " + std::to_string(i) + " (" + name + ")");
    }
    c.Writable(pe, table, true, "first row");
    c.Writable(pe, table + 4 * (ex::kGuards - 1), true, "last row");
}

// Guard i with N arguments: pushal; N times pushl 32+4N(%esp); call *row;
// movl %eax,28(%esp); popal; ret $4N. ApiGuardCode[i] is guard i.
void GuardCode(const PeFile &pe, Check &c)
{
    uint32_t table = pe.Symbol("_ApiGuardTable");
    uint32_t code = pe.Symbol("_ApiGuardCode");
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        const ex::Guard &g = ex::kGuardTable[i];
        std::string what = "guard " + std::to_string(i) + " (" + std::string(g.name) + ", " +
                           std::to_string(g.arguments) + " arguments)";
        uint32_t guard = pe.Symbol("ApiGuard_" + std::string(g.name));
        c.Equal(pe.U32(code + 4 * i), guard, "ApiGuardCode row " + std::to_string(i));
        Bytes b(guard);
        b.Op({0x60});
        for (unsigned k = 0; k < g.arguments; ++k)
            b.Op({0xFF, 0x74, 0x24, static_cast<uint8_t>(kPushalBytes + 4 * g.arguments)});
        b.Op({0xFF, 0x15}).U32(table + 4 * i);
        b.Op({0x89, 0x44, 0x24, 0x1C, 0x61});
        if (g.arguments == 0)
            b.Op({0xC3});
        else
            b.Op({0xC2}).U16(static_cast<uint16_t>(4 * g.arguments));
        c.Code(pe, guard, b.bytes(), what);
    }
}

// At load each row holds the address of its function's import slot: the
// __imp__ symbol the code uses, which is that very function's kernel import
// slot, or for the functions taken from ZUNDA.dll its delay-load cell; a
// slot that InstallApiGuards rewrites lies in writable data.
void Slots(const PeFile &pe, Check &c)
{
    uint32_t table = pe.Symbol("_ApiGuardTable");
    std::map<std::string, uint32_t> kernel = KernelSlots(pe);
    std::map<std::string, uint32_t> zunda = ZundaCells(pe);
    unsigned inKernel = 0, inZunda = 0;
    for (unsigned i = 0; i < ex::kGuards; ++i) {
        const ex::Guard &g = ex::kGuardTable[i];
        std::string name(g.name);
        std::string what = "row " + std::to_string(i) + " (" + name + ", " +
                           std::to_string(g.arguments) + " arguments)";
        uint32_t cell = pe.U32(table + 4 * i);
        c.Equal(cell, pe.Symbol(SlotSymbol(g)), what + ": holds " + SlotSymbol(g));
        const std::map<std::string, uint32_t> &slots = g.zunda ? zunda : kernel;
        auto it = slots.find(name);
        if (it == slots.end()) {
            c.That(false, what + ": no " +
                              (g.zunda ? "ZUNDA.dll delay-load cell" : "KERNEL32.dll import slot"));
            continue;
        }
        c.Equal(cell, it->second,
                what + (g.zunda ? ": its ZUNDA.dll delay-load cell"
                                : ": its KERNEL32.dll import slot"));
        c.Writable(pe, cell, true, what + ": its slot");
        ++(g.zunda ? inZunda : inKernel);
    }
    c.Equal(inKernel, ex::kGuards - ex::kZundaGuards, "rows in KERNEL32.dll import slots");
    c.Equal(inZunda, ex::kZundaGuards, "rows in ZUNDA.dll delay-load cells");
}

// The whole import address table lies in writable data: a tool chain that
// makes it read-only fails here instead of at load.
void ImportTableWritable(const PeFile &pe, Check &c)
{
    DataDirectory iat = pe.directory(kImportAddressTableDirectory);
    c.That(iat.rva != 0 && iat.size != 0, "the import address table directory is empty");
    if (iat.rva != 0 && iat.size != 0) {
        c.Writable(pe, pe.imageBase() + iat.rva, true, "start of the import address table");
        c.Writable(pe, pe.imageBase() + iat.rva + iat.size - 4, true,
                   "end of the import address table");
    }
    for (const ImportedFunction &f : pe.Imports()) {
        c.Writable(pe, f.slot, true, f.dll + " " + f.name + " import slot");
        c.That(f.slot >= pe.imageBase() + iat.rva && f.slot < pe.imageBase() + iat.rva + iat.size,
               f.dll + " " + f.name + ": slot outside the import address table directory");
    }
}

// The slot InstallApiGuards hands to host service 52005.
void CreateProcessSlot(const PeFile &pe, Check &c)
{
    const ex::Guard &g = ex::kGuardTable.back();
    c.Equal(std::string(g.name), std::string(ex::kCreateProcess), "last row");
    c.Writable(pe, pe.Symbol(SlotSymbol(g)), true, "CreateProcessA import slot");
    uint32_t entry = pe.Symbol("_HostEntry_" + std::to_string(ex::kCreateProcessEntry));
    const Section *s = pe.SectionAt(entry);
    c.That(s && s->Executable(), "entry thunk of 52005 lies in executable code");
}

// The kernel imports are the guarded functions not taken from ZUNDA.dll and
// the four unguarded ones, and nothing else: each must be there when the
// module loads, and the DOS extender's kernel need not have a function
// outside these lists.
void KernelImports(const PeFile &pe, Check &c)
{
    std::map<std::string, uint32_t> kernel = KernelSlots(pe);
    std::vector<std::string> actual, expected;
    for (const auto &k : kernel)
        actual.push_back(k.first);
    for (const ex::Guard &g : ex::kGuardTable)
        if (!g.zunda)
            expected.emplace_back(g.name);
    for (std::string_view u : ex::kUnguarded)
        expected.emplace_back(u);
    std::sort(expected.begin(), expected.end());
    c.Equal(actual.size(), ex::kKernelImports, "KERNEL32.dll imports");
    c.Equal(actual, expected, "KERNEL32.dll imports, by name");

    uint32_t table = pe.Symbol("_ApiGuardTable");
    for (std::string_view u : ex::kUnguarded) {
        auto it = kernel.find(std::string(u));
        if (it == kernel.end()) {
            c.That(false, std::string(u) + " is not imported from KERNEL32.dll");
            continue;
        }
        for (unsigned i = 0; i < ex::kGuards; ++i)
            c.That(pe.U32(table + 4 * i) != it->second,
                   std::string(u) + " is guarded by row " + std::to_string(i));
    }
}

} // namespace

const std::vector<Case> &GuardCases()
{
    static const std::vector<Case> cases = {
        {"guards/rows", Rows},
        {"guards/code", GuardCode},
        {"guards/slots", Slots},
        {"guards/import-table-writable", ImportTableWritable},
        {"guards/create-process-slot", CreateProcessSlot},
        {"guards/kernel-imports", KernelImports},
    };
    return cases;
}

} // namespace image
