// The shape of the module: a PE32 DLL for i386 with one export by ordinal,
// its regular imports from the expected libraries only, its entry point, its
// unwind tables as the runtime registers them, and a checksum that matches.
#include "check.h"
#include "expected.h"

#include <algorithm>
#include <set>

namespace image {
namespace {

namespace ex = expected;

void Pe32I386(const PeFile &pe, Check &c)
{
    c.Equal(pe.machine(), kMachineI386, "machine");
    c.Equal(pe.magic(), kMagicPe32, "optional header magic");
    c.That(!pe.sections().empty(), "the image has sections");
}

void Dll(const PeFile &pe, Check &c)
{
    c.That((pe.characteristics() & kFileDll) != 0,
           "characteristics " + Hex(pe.characteristics()) + " lack IMAGE_FILE_DLL (0x2000)");
    c.That((pe.characteristics() & kFileExecutable) != 0,
           "characteristics " + Hex(pe.characteristics()) +
               " lack IMAGE_FILE_EXECUTABLE_IMAGE (0x2)");
}

void OneExportByOrdinal(const PeFile &pe, Check &c)
{
    Export e = pe.Exports();
    c.Equal(e.base, 30001, "ordinal base");
    c.Equal(e.functionCount, 1, "exported functions");
    c.Equal(e.nameCount, 0, "exported names");
    c.Equal(e.dllName, "Tolmar.dll", "name in the export directory");
    if (e.functions.size() == 1) {
        c.Equal(e.functions[0], pe.Symbol("_PluginEntry@8"), "ordinal 30001 is PluginEntry");
        const Section *s = pe.SectionAt(e.functions[0]);
        c.That(s && s->Executable(), "PluginEntry lies in executable code");
    }
}

void EntryPoint(const PeFile &pe, Check &c)
{
    c.Equal(pe.entryPoint(), pe.Symbol("_TolmarDllMain@12"), "entry point is TolmarDllMain");
}

void RegularImportLibraries(const PeFile &pe, Check &c)
{
    std::set<std::string> libraries;
    for (const ImportedFunction &f : pe.Imports())
        libraries.insert(f.dll);
    c.Equal(std::vector<std::string>(libraries.begin(), libraries.end()),
            {std::string(ex::kKernel), std::string(ex::kPakto)},
            "libraries of the regular imports");
}

// The runtime registers the unwind tables from a label at the start of
// .eh_frame up to the zero word that must end it.
void UnwindTables(const PeFile &pe, Check &c)
{
    uint32_t begin = pe.Symbol("_TolmarEhFrameBegin");
    uint32_t end = pe.Symbol("_TolmarEhFrameEnd");
    const Section *s = pe.SectionAt(begin);
    if (!s) {
        c.That(false, "_TolmarEhFrameBegin lies in no section");
        return;
    }
    c.Equal(s->name, ".eh_fram", "section of _TolmarEhFrameBegin (.eh_frame, its name cut to 8)");
    c.Equal(begin, s->address, ".eh_frame begins at the runtime's label");
    c.Equal(end, s->address + s->virtualSize - 4, "the terminator is the last word of .eh_frame");
    c.Equal(pe.U32(end), 0, "the terminator is zero");
    c.That(!s->Writable(), ".eh_frame is read-only");
}

// GNU ld writes the header's checksum; the post-link patch of the
// delay-import directory must bring it up to date.
void CheckSum(const PeFile &pe, Check &c)
{
    c.That(pe.checkSum() != 0, "the link wrote a checksum");
    c.Equal(pe.checkSum(), pe.ComputeCheckSum(), "the header's checksum against the file");
}

} // namespace

const std::vector<Case> &ShapeCases()
{
    static const std::vector<Case> cases = {
        {"shape/pe32-i386", Pe32I386},
        {"shape/dll", Dll},
        {"shape/one-export-by-ordinal", OneExportByOrdinal},
        {"shape/entry-point", EntryPoint},
        {"shape/import-libraries", RegularImportLibraries},
        {"shape/unwind-tables", UnwindTables},
        {"shape/checksum", CheckSum},
    };
    return cases;
}

} // namespace image
