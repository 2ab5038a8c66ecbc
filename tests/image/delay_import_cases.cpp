// The delay imports as the image holds them, walked from the header's
// delay-import directory: two descriptors in the old form, their tables and
// binding stubs, the notification hook, and how they stand apart from the
// regular imports.
#include "check.h"
#include "expected.h"

namespace image {
namespace {

namespace ex = expected;

template <size_t N>
std::vector<std::string> Names(const std::array<std::string_view, N> &names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

void DirectoryEntry(const PeFile &pe, Check &c)
{
    DataDirectory d = pe.directory(kDelayImportDirectory);
    c.That(d.rva != 0 && d.size != 0, "the delay-import directory entry is empty");
    c.Equal(pe.imageBase() + d.rva, pe.Symbol("_DelayImportDirectory"),
            "the delay-import directory points at the descriptors");
    c.Equal(d.size, ex::kDelayDirectoryBytes, "delay-import directory bytes");
    std::vector<std::string> libraries;
    for (const DelayLibrary &lib : pe.DelayImports())
        libraries.push_back(lib.name);
    c.Equal(libraries, {std::string(ex::kZunda), std::string(ex::kUser32)},
            "libraries of the delay-import directory");
    uint32_t zero = pe.imageBase() + d.rva + 2 * 32;
    for (uint32_t i = 0; i < 8; ++i)
        c.Equal(pe.U32(zero + 4 * i), 0, "word " + std::to_string(i) + " of the zero descriptor");
    c.Writable(pe, pe.imageBase() + d.rva, true, "delay-import descriptors");
}

// One library: its descriptor's fields, its name table, and every address
// cell holding its binding stub, `mov $cell,%eax; jmp <library>TailMerge`.
// The tail calls DelayLoadHelper(descriptor, cell) and jumps into what it
// returns: push %ecx; push %edx; push %eax; push $descriptor; call; pop
// %edx; pop %ecx; jmp *%eax.
void Library(const PeFile &pe, Check &c, size_t index, std::string_view name,
             const std::vector<std::string> &functions, const std::string &tail)
{
    std::vector<DelayLibrary> libraries = pe.DelayImports();
    if (libraries.size() <= index) {
        c.That(false, "the directory has no descriptor " + std::to_string(index));
        return;
    }
    const DelayLibrary &lib = libraries[index];
    std::string l(name);
    c.Equal(lib.name, l, "library name");
    c.Equal(lib.attributes, 0, l + ": attributes (0: absolute addresses)");
    c.Equal(pe.U32(lib.moduleCell), 0, l + ": module-handle cell empty at load");
    c.Writable(pe, lib.moduleCell, true, l + ": module-handle cell");
    c.That(lib.boundTable != 0, l + ": no bound-address table");
    c.Equal(lib.unloadTable, 0, l + ": unload table");
    c.Equal(lib.timeStamp, 0, l + ": time stamp");

    std::vector<std::string> names;
    for (const DelayLibrary::Function &f : lib.functions)
        names.push_back(f.name);
    c.Equal(names, functions, l + ": name table, in order");
    c.Equal(pe.U32(lib.addressTable + 4 * static_cast<uint32_t>(lib.functions.size())), 0,
            l + ": the address table ends with zero");

    uint32_t merge = pe.Symbol(tail);
    uint32_t helper = pe.Symbol("_DelayLoadHelper@8");
    c.Code(pe, merge,
           Bytes(merge)
               .Op({0x51, 0x52, 0x50})
               .Op({0x68}).U32(lib.descriptor)
               .Op({0xE8}).Rel32(helper)
               .Op({0x5A, 0x59, 0xFF, 0xE0})
               .bytes(),
           l + ": tail of the binding stubs");
    for (const DelayLibrary::Function &f : lib.functions) {
        std::string what = l + " " + f.name;
        c.Writable(pe, f.cell, true, what + ": address cell");
        c.Equal(f.cellValue, pe.Symbol("Bind_" + f.name),
                what + ": the cell holds its binding stub");
        uint32_t stub = f.cellValue;
        c.Code(pe, stub, Bytes(stub).Op({0xB8}).U32(f.cell).bytes(),
               what + ": stub loads its cell");
        // The jump to the tail, short or near as the assembler chose.
        std::vector<uint8_t> jump = pe.Read(stub + 5, 2);
        uint32_t target = 0;
        if (jump[0] == 0xEB)
            target = stub + 7 + static_cast<uint32_t>(static_cast<int8_t>(jump[1]));
        else if (jump[0] == 0xE9)
            target = stub + 10 + pe.U32(stub + 6);
        c.Equal(target, merge, what + ": stub jumps to " + tail);
    }
}

void Zunda(const PeFile &pe, Check &c)
{
    Library(pe, c, 0, ex::kZunda, Names(ex::kZundaFunctions), "ZundaTailMerge");
}

void User32(const PeFile &pe, Check &c)
{
    Library(pe, c, 1, ex::kUser32, Names(ex::kUser32Functions), "User32TailMerge");
}

// The hook is in place from load on: static data, no code sets it.
void NotificationHook(const PeFile &pe, Check &c)
{
    c.Equal(pe.U32(pe.Symbol("___pfnDliNotifyHook2")), pe.Symbol("_DelayNotifyHook@8"),
            "__pfnDliNotifyHook2 at load");
}

// No delay-loaded library or function is also a regular import;
// InterlockedExchange, which the binding's atomic exchange needs, is
// PAKTO.dll's one import.
void ApartFromRegularImports(const PeFile &pe, Check &c)
{
    std::vector<ImportedFunction> imports = pe.Imports();
    std::vector<std::string> delayed = Names(ex::kZundaFunctions);
    for (std::string_view f : ex::kUser32Functions)
        delayed.emplace_back(f);
    std::vector<std::string> pakto;
    for (const ImportedFunction &f : imports) {
        c.That(f.dll != ex::kZunda && f.dll != ex::kUser32, f.dll + " is a regular import");
        for (const std::string &d : delayed)
            c.That(f.name != d, d + " is also a regular import from " + f.dll);
        if (f.dll == ex::kPakto)
            pakto.push_back(f.name);
    }
    c.Equal(pakto, {std::string(ex::kPaktoFunction)}, "imports from PAKTO.dll");
}

} // namespace

const std::vector<Case> &DelayImportCases()
{
    static const std::vector<Case> cases = {
        {"delay/directory", DirectoryEntry},
        {"delay/zunda", Zunda},
        {"delay/user32", User32},
        {"delay/notification-hook", NotificationHook},
        {"delay/apart-from-regular-imports", ApartFromRegularImports},
    };
    return cases;
}

} // namespace image
