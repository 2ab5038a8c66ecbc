#include "tests/pe_imports.h"

#include <cstdint>
#include <cstring>

namespace pe {
namespace {

const IMAGE_NT_HEADERS32 *Headers(HMODULE module)
{
    auto base = reinterpret_cast<const uint8_t *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
}

const IMAGE_DATA_DIRECTORY &Directory(HMODULE module, int which)
{
    return Headers(module)->OptionalHeader.DataDirectory[which];
}

void **Find(HMODULE module, const char *library, const char *function, bool delayed)
{
    for (const Import &i : ListImports(module))
        if (i.delayed == delayed && _stricmp(i.library.c_str(), library) == 0 &&
            i.function == function)
            return i.slot;
    return nullptr;
}

} // namespace

std::vector<Import> ListImports(HMODULE module)
{
    std::vector<Import> out;
    auto base = reinterpret_cast<uint8_t *>(module);

    const IMAGE_DATA_DIRECTORY &regular = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (regular.VirtualAddress)
        for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + regular.VirtualAddress);
             d->Name; ++d) {
            auto names = reinterpret_cast<const IMAGE_THUNK_DATA32 *>(
                base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
            auto slots = reinterpret_cast<void **>(base + d->FirstThunk);
            for (int i = 0; names[i].u1.AddressOfData; ++i) {
                if (IMAGE_SNAP_BY_ORDINAL32(names[i].u1.Ordinal))
                    continue;
                auto byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names[i].u1.AddressOfData);
                out.push_back({reinterpret_cast<const char *>(base + d->Name),
                               reinterpret_cast<const char *>(byName->Name), &slots[i], false});
            }
        }

    // Delay-load descriptors: the older form (attributes 0) holds absolute
    // addresses, the newer one (bit 0) relative ones.
    const IMAGE_DATA_DIRECTORY &delay = Directory(module, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (delay.VirtualAddress)
        for (auto d = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR *>(base + delay.VirtualAddress);
             d->DllNameRVA; ++d) {
            uintptr_t rel = (d->Attributes.AllAttributes & 1) ? reinterpret_cast<uintptr_t>(base) : 0;
            auto at = [rel](uint32_t ref) { return reinterpret_cast<uint8_t *>(rel + ref); };
            auto names = reinterpret_cast<const uint32_t *>(at(d->ImportNameTableRVA));
            auto slots = reinterpret_cast<void **>(at(d->ImportAddressTableRVA));
            for (int i = 0; names[i]; ++i) {
                if (names[i] & IMAGE_ORDINAL_FLAG32)
                    continue;
                out.push_back({reinterpret_cast<const char *>(at(d->DllNameRVA)),
                               reinterpret_cast<const char *>(at(names[i]) + 2), &slots[i], true});
            }
        }
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
    return a >= base && a - base < Headers(module)->OptionalHeader.SizeOfImage;
}

} // namespace pe
