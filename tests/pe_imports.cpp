#include "tests/pe_imports.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "host/pe_file.h"

namespace pe {
namespace {

void **Find(HMODULE module, const char *library, const char *function, bool delayed)
{
    for (const Import &i : ListImports(module))
        if (i.delayed == delayed && _stricmp(i.library.c_str(), library) == 0 &&
            i.function == function)
            return i.slot;
    return nullptr;
}

} // namespace

std::shared_ptr<const image::PeFile> ModuleFile(HMODULE module)
{
    struct Read {
        std::string path;
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        std::shared_ptr<const image::PeFile> file;
    };
    static std::optional<Read> last;

    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (n == 0 || n >= MAX_PATH || !GetFileAttributesExA(path, GetFileExInfoStandard, &attributes))
        throw image::ImageError(
            "no file for module " +
            image::Hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module))));
    auto same = [&attributes](const WIN32_FILE_ATTRIBUTE_DATA &a) {
        return a.nFileSizeLow == attributes.nFileSizeLow &&
               a.nFileSizeHigh == attributes.nFileSizeHigh &&
               CompareFileTime(&a.ftLastWriteTime, &attributes.ftLastWriteTime) == 0;
    };
    if (last && last->path == path && same(last->attributes))
        return last->file;
    // Another file, or the same one written again: read it, and keep what
    // was parsed of it unless its bytes differ (each load under the DOS
    // extender writes a new copy of the same DLL).
    auto file = std::make_shared<const image::PeFile>(image::PeFile::Load(path));
    if (!last || last->file->bytes() != file->bytes())
        last.emplace(Read{path, attributes, std::move(file)});
    else {
        last->path = path;
        last->attributes = attributes;
    }
    return last->file;
}

std::vector<Import> ListImports(HMODULE module)
{
    std::shared_ptr<const image::PeFile> held = ModuleFile(module);
    const image::PeFile &file = *held;
    uintptr_t moved = reinterpret_cast<uintptr_t>(module) - file.imageBase();
    auto slot = [moved](uint32_t va) { return reinterpret_cast<void **>(va + moved); };

    std::vector<Import> out;
    if (file.directory(image::kImportDirectory).rva != 0)
        for (const image::ImportedFunction &f : file.Imports())
            if (!f.name.empty()) // an import by ordinal has none
                out.push_back({f.dll, f.name, slot(f.slot), false});
    if (file.directory(image::kDelayImportDirectory).rva != 0)
        for (const image::DelayLibrary &lib : file.DelayImports())
            for (const image::DelayLibrary::Function &f : lib.functions)
                out.push_back({lib.name, f.name, slot(f.cell), true});
    return out;
}

void **FindImportSlot(HMODULE module, const char *library, const char *function)
{
    return Find(module, library, function, false);
}

void **FindDelayImportSlot(HMODULE module, const char *library, const char *function)
{
    return Find(module, library, function, true);
}

bool InImage(HMODULE module, const void *address)
{
    auto base = reinterpret_cast<uintptr_t>(module);
    auto a = reinterpret_cast<uintptr_t>(address);
    return a >= base && a - base < ModuleFile(module)->sizeOfImage();
}

} // namespace pe
