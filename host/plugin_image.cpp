#include "host/plugin_image.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace host {

template <typename T> const T *PluginImage::At(uint32_t offset) const
{
    if (offset == 0 || offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
        return nullptr;
    return reinterpret_cast<const T *>(bytes_.data() + offset);
}

bool PluginImage::Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    sections_.clear();
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    auto nt = At<IMAGE_NT_HEADERS32>(static_cast<uint32_t>(dos->e_lfanew));
    if (!nt || nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return false;
    imageBase_ = nt->OptionalHeader.ImageBase;
    sizeOfImage_ = nt->OptionalHeader.SizeOfImage;
    importDirectory_ =
        nt->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT
            ? nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress
            : 0;
    uint32_t first = static_cast<uint32_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                     nt->FileHeader.SizeOfOptionalHeader;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        auto s = At<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER));
        if (!s)
            return false;
        sections_.push_back(
            {s->VirtualAddress, s->Misc.VirtualSize, s->PointerToRawData, s->SizeOfRawData});
    }
    return true;
}

uint32_t PluginImage::Offset(uint32_t rva) const
{
    for (const Section &s : sections_)
        if (rva >= s.address && rva - s.address < s.fileSize)
            return s.fileOffset + (rva - s.address);
    return 0;
}

std::vector<std::string> PluginImage::ImportNames() const
{
    std::vector<std::string> names;
    if (!importDirectory_)
        return names;
    for (uint32_t at = Offset(importDirectory_);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto d = At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (!d || !d->Name)
            break;
        uint32_t name = Offset(d->Name);
        if (!name)
            break;
        names.emplace_back(reinterpret_cast<const char *>(bytes_.data() + name),
                           strnlen(reinterpret_cast<const char *>(bytes_.data() + name),
                                   bytes_.size() - name));
    }
    return names;
}

bool PluginImage::RenameImport(const std::string &from, const std::string &to)
{
    if (from.size() != to.size() || !importDirectory_)
        return false;
    for (uint32_t at = Offset(importDirectory_);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto d = At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (!d || !d->Name)
            return false;
        uint32_t name = Offset(d->Name);
        if (!name || bytes_.size() - name <= from.size())
            return false;
        char *stored = reinterpret_cast<char *>(bytes_.data() + name);
        if (_strnicmp(stored, from.c_str(), from.size()) == 0 && stored[from.size()] == 0) {
            std::memcpy(stored, to.data(), to.size());
            return true;
        }
    }
}

bool PluginImage::Write(const std::string &path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    return static_cast<bool>(out);
}

std::string LibraryPath(const std::string &name)
{
    if (name.find_first_of("\\/:") != std::string::npos)
        return name;
    char program[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string dir(program, n);
    size_t slash = dir.find_last_of("\\/");
    std::string beside = (slash == std::string::npos ? std::string() : dir.substr(0, slash + 1)) + name;
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
        return beside;
    return name;
}

} // namespace host
