#include "host/pe_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace image {
namespace {

// Offsets in the headers (PE32), as the format defines them.
constexpr size_t kNewHeaderPointer = 0x3C; // e_lfanew in the DOS header
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSymbolSize = 18;
constexpr size_t kDirectoriesOffset = 96; // in the PE32 optional header
constexpr size_t kDelayDescriptorSize = 32;
constexpr size_t kImportDescriptorSize = 20;
constexpr uint32_t kOrdinalFlag = 0x80000000;
constexpr uint16_t kRelocationHighLow = 3;
constexpr uint16_t kRelocationAbsolute = 0; // padding at the end of a block

} // namespace

std::string Hex(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

PeFile::PeFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes))
{
    if (bytes_.size() < 0x40 || bytes_[0] != 'M' || bytes_[1] != 'Z')
        throw ImageError("no DOS header (MZ)");
    size_t pe = FileU32(kNewHeaderPointer);
    if (FileU32(pe) != 0x00004550)
        throw ImageError("no PE signature at " + Hex(pe));
    size_t file = fileHeaderOffset_ = pe + 4;
    machine_ = FileU16(file);
    uint16_t sectionCount = FileU16(file + 2);
    uint32_t symbolTable = FileU32(file + 8);
    uint32_t symbolCount = FileU32(file + 12);
    uint16_t optionalSize = FileU16(file + 16);
    characteristics_ = FileU16(file + 18);

    optionalOffset_ = file + kFileHeaderSize;
    magic_ = FileU16(optionalOffset_);
    if (magic_ != kMagicPe32)
        throw ImageError("optional header magic " + Hex(magic_) + " is not PE32");
    entryRva_ = FileU32(optionalOffset_ + 16);
    imageBase_ = FileU32(optionalOffset_ + 28);
    sizeOfImage_ = FileU32(optionalOffset_ + 56);
    checkSum_ = FileU32(optionalOffset_ + 64);
    directoryCount_ = FileU32(optionalOffset_ + 92);
    if (optionalSize < kDirectoriesOffset || directoryCount_ > (optionalSize - kDirectoriesOffset) / 8)
        throw ImageError("the data directories do not fit the optional header");

    size_t header = optionalOffset_ + optionalSize;
    for (unsigned i = 0; i < sectionCount; ++i, header += kSectionHeaderSize) {
        if (header + kSectionHeaderSize > bytes_.size())
            throw ImageError("section table runs past the end of the file");
        const char *name = reinterpret_cast<const char *>(&bytes_[header]);
        Section s;
        s.name.assign(name, strnlen(name, 8));
        s.virtualSize = FileU32(header + 8);
        s.address = imageBase_ + FileU32(header + 12);
        s.fileSize = FileU32(header + 16);
        s.fileOffset = FileU32(header + 20);
        s.flags = FileU32(header + 36);
        s.headerOffset = header;
        if (s.fileSize != 0 &&
            (s.fileOffset > bytes_.size() || s.fileSize > bytes_.size() - s.fileOffset))
            throw ImageError("section " + s.name + " runs past the end of the file");
        sections_.push_back(s);
    }
    symbolTable_ = symbolTable;
    symbolCount_ = symbolCount;
}

PeFile PeFile::Load(const std::string &path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw ImageError("cannot open " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw ImageError("cannot read " + path);
    return PeFile(std::move(bytes));
}

uint32_t PeFile::FileU32(size_t offset) const
{
    if (offset > bytes_.size() || bytes_.size() - offset < 4)
        throw ImageError("file offset " + Hex(offset) + " past the end of the file");
    return bytes_[offset] | bytes_[offset + 1] << 8 | bytes_[offset + 2] << 16 |
           static_cast<uint32_t>(bytes_[offset + 3]) << 24;
}

uint16_t PeFile::FileU16(size_t offset) const
{
    if (offset > bytes_.size() || bytes_.size() - offset < 2)
        throw ImageError("file offset " + Hex(offset) + " past the end of the file");
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

// The COFF symbol table of an unstripped image: 18-byte records, long names
// in the string table that follows it. A symbol's value is its offset in its
// section.
void PeFile::ReadSymbols() const
{
    symbolsRead_ = true;
    if (symbolTable_ == 0)
        return;
    const uint32_t table = symbolTable_, count = symbolCount_;
    // Summed in 64 bits: the cross build's size_t has 32.
    uint64_t end = table + kSymbolSize * uint64_t{count};
    if (end > bytes_.size())
        throw ImageError("symbol table runs past the end of the file");
    size_t strings = static_cast<size_t>(end);
    uint32_t stringsSize = FileU32(strings);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = table + kSymbolSize * size_t{i};
        if (at + kSymbolSize > bytes_.size())
            throw ImageError("symbol table runs past the end of the file");
        std::string name;
        if (FileU32(at) == 0) {
            uint32_t offset = FileU32(at + 4);
            if (offset >= stringsSize || offset >= bytes_.size() - strings)
                throw ImageError("symbol name outside the string table");
            const char *text = reinterpret_cast<const char *>(&bytes_[strings + offset]);
            name.assign(text, strnlen(text, bytes_.size() - strings - offset));
        } else {
            const char *text = reinterpret_cast<const char *>(&bytes_[at]);
            name.assign(text, strnlen(text, 8));
        }
        uint32_t value = FileU32(at + 8);
        int16_t section = static_cast<int16_t>(FileU16(at + 12));
        uint8_t auxiliary = bytes_[at + 17];
        if (section > 0 && static_cast<size_t>(section) <= sections_.size()) {
            uint32_t va = sections_[section - 1].address + value;
            std::vector<uint32_t> &addresses = symbols_[name];
            if (std::find(addresses.begin(), addresses.end(), va) == addresses.end())
                addresses.push_back(va);
        }
        i += auxiliary;
    }
}

DataDirectory PeFile::directory(unsigned index) const
{
    if (index >= directoryCount_)
        return {0, 0};
    size_t at = DirectoryEntryOffset(index);
    return {FileU32(at), FileU32(at + 4)};
}

size_t PeFile::DirectoryEntryOffset(unsigned index) const
{
    if (index >= directoryCount_)
        throw ImageError("the optional header has no data directory " + std::to_string(index));
    return optionalOffset_ + kDirectoriesOffset + 8 * size_t{index};
}

const Section *PeFile::SectionAt(uint32_t va) const
{
    for (const Section &s : sections_)
        if (s.Contains(va))
            return &s;
    return nullptr;
}

const Section &PeFile::SectionNamed(const std::string &name) const
{
    const Section *found = nullptr;
    for (const Section &s : sections_) {
        if (s.name != name)
            continue;
        if (found)
            throw ImageError("two sections named " + name);
        found = &s;
    }
    if (!found)
        throw ImageError("no section named " + name);
    return *found;
}

std::vector<uint8_t> PeFile::Read(uint32_t va, size_t count) const
{
    const Section *s = SectionAt(va);
    if (!s)
        throw ImageError("address " + Hex(va) + " lies in no section");
    uint32_t offset = va - s->address;
    if (count > s->virtualSize - offset)
        throw ImageError(std::to_string(count) + " bytes at " + Hex(va) + " run past the end of " +
                         s->name);
    std::vector<uint8_t> out(count, 0);
    for (size_t i = 0; i < count; ++i)
        if (offset + i < s->fileSize)
            out[i] = bytes_[s->fileOffset + offset + i];
    return out;
}

size_t PeFile::FileOffset(uint32_t va, size_t count) const
{
    const Section *s = SectionAt(va);
    if (!s)
        throw ImageError("address " + Hex(va) + " lies in no section");
    uint32_t offset = va - s->address;
    if (offset > s->fileSize || count > s->fileSize - offset)
        throw ImageError(std::to_string(count) + " bytes at " + Hex(va) +
                         " are not all in the file's data of " + s->name);
    return s->fileOffset + offset;
}

uint32_t PeFile::U32(uint32_t va) const
{
    std::vector<uint8_t> b = Read(va, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t PeFile::U16(uint32_t va) const
{
    std::vector<uint8_t> b = Read(va, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

std::string PeFile::CString(uint32_t va, size_t limit) const
{
    std::string out;
    for (size_t i = 0; i < limit; ++i) {
        uint8_t c = Read(va + static_cast<uint32_t>(i), 1)[0];
        if (c == 0)
            return out;
        out += static_cast<char>(c);
    }
    throw ImageError("no terminating zero within " + std::to_string(limit) + " bytes at " +
                     Hex(va));
}

const std::map<std::string, std::vector<uint32_t>> &PeFile::symbols() const
{
    if (!symbolsRead_)
        ReadSymbols();
    return symbols_;
}

uint32_t PeFile::Symbol(const std::string &name) const
{
    auto it = symbols().find(name);
    if (it == symbols_.end())
        throw ImageError("no symbol " + name);
    if (it->second.size() != 1)
        throw ImageError("symbol " + name + " is defined " + std::to_string(it->second.size()) +
                         " times");
    return it->second.front();
}

bool PeFile::HasSymbol(const std::string &name) const
{
    return symbols().count(name) != 0;
}

Export PeFile::Exports() const
{
    DataDirectory d = directory(kExportDirectory);
    if (d.rva == 0)
        throw ImageError("no export directory");
    uint32_t at = imageBase_ + d.rva;
    Export e;
    e.dllName = CString(imageBase_ + U32(at + 12));
    e.base = U32(at + 16);
    e.functionCount = U32(at + 20);
    e.nameCount = U32(at + 24);
    uint32_t functions = imageBase_ + U32(at + 28);
    for (uint32_t i = 0; i < e.functionCount; ++i)
        e.functions.push_back(imageBase_ + U32(functions + 4 * i));
    return e;
}

std::vector<ImportedFunction> PeFile::Imports() const
{
    DataDirectory d = directory(kImportDirectory);
    if (d.rva == 0)
        throw ImageError("no import directory");
    std::vector<ImportedFunction> out;
    for (uint32_t at = imageBase_ + d.rva;; at += kImportDescriptorSize) {
        uint32_t lookup = U32(at), nameRva = U32(at + 12), first = U32(at + 16);
        if (lookup == 0 && nameRva == 0 && first == 0)
            break;
        std::string dll = CString(imageBase_ + nameRva);
        uint32_t names = imageBase_ + (lookup ? lookup : first);
        for (uint32_t i = 0;; ++i) {
            uint32_t entry = U32(names + 4 * i);
            if (entry == 0)
                break;
            std::string name;
            if (!(entry & kOrdinalFlag))
                name = CString(imageBase_ + entry + 2);
            out.push_back({dll, name, imageBase_ + first + 4 * i, imageBase_ + nameRva});
        }
    }
    return out;
}

std::vector<DelayLibrary> PeFile::DelayImports() const
{
    DataDirectory d = directory(kDelayImportDirectory);
    if (d.rva == 0)
        throw ImageError("the delay-import directory entry is empty");
    std::vector<DelayLibrary> out;
    for (uint32_t at = imageBase_ + d.rva;; at += kDelayDescriptorSize) {
        DelayLibrary lib;
        lib.descriptor = at;
        lib.attributes = U32(at);
        uint32_t name = U32(at + 4);
        if (name == 0)
            break;
        uint32_t relative = (lib.attributes & 1) ? imageBase_ : 0;
        lib.name = CString(name + relative);
        lib.moduleCell = U32(at + 8) + relative;
        lib.addressTable = U32(at + 12) + relative;
        lib.nameTable = U32(at + 16) + relative;
        lib.boundTable = U32(at + 20) ? U32(at + 20) + relative : 0;
        lib.unloadTable = U32(at + 24) ? U32(at + 24) + relative : 0;
        lib.timeStamp = U32(at + 28);
        for (uint32_t i = 0;; ++i) {
            uint32_t entry = U32(lib.nameTable + 4 * i);
            if (entry == 0)
                break;
            DelayLibrary::Function f;
            if (entry & kOrdinalFlag)
                throw ImageError(lib.name + ": function " + std::to_string(i) + " by ordinal");
            f.hint = U16(entry + relative);
            f.name = CString(entry + relative + 2);
            f.cell = lib.addressTable + 4 * i;
            f.cellValue = U32(f.cell);
            lib.functions.push_back(f);
        }
        out.push_back(lib);
    }
    return out;
}

std::set<uint32_t> PeFile::Relocations() const
{
    DataDirectory d = directory(kRelocationDirectory);
    if (d.rva == 0)
        throw ImageError("no base relocation directory");
    std::set<uint32_t> out;
    uint32_t at = imageBase_ + d.rva, end = at + d.size;
    while (at < end) {
        uint32_t page = U32(at), size = U32(at + 4);
        if (size < 8 || size % 2 != 0 || size > end - at)
            throw ImageError("relocation block at " + Hex(at) + " has size " +
                             std::to_string(size));
        for (uint32_t i = 8; i < size; i += 2) {
            uint16_t entry = U16(at + i);
            uint16_t type = entry >> 12;
            if (type == kRelocationHighLow)
                out.insert(imageBase_ + page + (entry & 0xFFF));
            else if (type != kRelocationAbsolute)
                throw ImageError("relocation of type " + std::to_string(type) + " at " +
                                 Hex(at + i));
        }
        at += size;
    }
    return out;
}

uint32_t PeFile::ComputeCheckSum() const
{
    size_t field = checkSumOffset();
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes_.size(); i += 2) {
        uint32_t word = bytes_[i] | (i + 1 < bytes_.size() ? bytes_[i + 1] << 8 : 0);
        if (i >= field && i < field + 4)
            word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes_.size());
}

void SetDelayImportDirectory(std::vector<uint8_t> &bytes)
{
    PeFile pe(bytes);
    uint32_t start = pe.Symbol("_DelayImportDirectory");
    uint32_t end = pe.Symbol("_DelayImportDirectoryEnd");
    if (end <= start)
        throw ImageError("_DelayImportDirectoryEnd does not follow _DelayImportDirectory");
    auto put = [&bytes](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<uint8_t>(value >> 8 * i);
    };
    size_t entry = pe.DirectoryEntryOffset(kDelayImportDirectory);
    put(entry, start - pe.imageBase());
    put(entry + 4, end - start);
    if (pe.checkSum() != 0)
        put(pe.checkSumOffset(), PeFile(bytes).ComputeCheckSum());
}

} // namespace image
