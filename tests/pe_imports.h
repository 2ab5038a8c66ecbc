// The import slots of a loaded module, read through its PE headers: the
// regular import address table and the delay-load address cells.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace pe {

struct Import {
    std::string library; // as stored in the module
    std::string function;
    void **slot;
    bool delayed;
};

// Every import by name, regular ones first, in table order.
std::vector<Import> ListImports(HMODULE module);

// The slot of library!function (library compared without case), or null.
void **FindImportSlot(HMODULE module, const char *library, const char *function);
void **FindDelayImportSlot(HMODULE module, const char *library, const char *function);

// Whether the address lies inside the module's image.
bool InImage(HMODULE module, const void *address);

} // namespace pe
