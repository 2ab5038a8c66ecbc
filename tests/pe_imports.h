// The import slots of a loaded module: the regular import address table and
// the delay-load address cells, read from the file the module was loaded
// from by the image reader (host/pe_file.h) and moved by the distance the
// loader moved the module from its preferred base.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace image {
class PeFile;
}

namespace pe {

// The file the module was loaded from (under the DOS extender, the host's
// copy bound to its kernel emulation), as the image reader parsed it. The
// last one read is kept while its path, size and time of writing stay the
// same: a test looks up many slots and symbols of one module. Throws
// (image::ImageError) when there is no such file or it is no PE image.
std::shared_ptr<const image::PeFile> ModuleFile(HMODULE module);

struct Import {
    std::string library; // as stored in the module's file
    std::string function;
    void **slot;
    bool delayed;
};

// Every import by name, regular ones first, in table order (regular imports
// by ordinal left out; the reader refuses delay imports by ordinal). Throws
// (image::ImageError) when the module's file cannot be read or its tables do
// not lie in it.
std::vector<Import> ListImports(HMODULE module);

// The slot of library!function (library compared without case), or null.
void **FindImportSlot(HMODULE module, const char *library, const char *function);
void **FindDelayImportSlot(HMODULE module, const char *library, const char *function);

// Whether the address lies inside the module's image.
bool InImage(HMODULE module, const void *address);

} // namespace pe
