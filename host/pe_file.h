#pragma once
// The one reader of the built Tolmar.dll: a 32-bit PE file parsed from its
// bytes, with its headers, sections, exports, imports, delay imports, base
// relocations and COFF symbols, and reads by virtual address.
//
// Portable code that only reads bytes, never runs the image. It is built
// twice: for the build machine in the image tool (tests/image: the checks on
// the image and the post-link patch), and for Windows as the library
// tolmar_pe_file, with which the stand-in host reads the plug-in's file
// before loading it (its base, its size, the DOS extender's copy) and the
// test programs find the loaded module's symbols and import slots. Addresses
// are those of the file, at its preferred base: a reader of a loaded module
// adds the distance the loader moved it. Every read that falls outside the
// file, a section or a table throws ImageError, so a check that looks for
// something the image lacks fails instead of finding nothing.
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace image {

struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "0x" and the value in hexadecimal digits.
std::string Hex(uint32_t value);

// Section flags (IMAGE_SCN_*) that the checks ask about.
constexpr uint32_t kSectionCode = 0x00000020;
constexpr uint32_t kSectionInitialisedData = 0x00000040;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

// File header characteristics (IMAGE_FILE_*).
constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileDll = 0x2000;

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMagicPe32 = 0x10B;

// Data directories by index.
enum Directory : unsigned {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kRelocationDirectory = 5,
    kImportAddressTableDirectory = 12,
    kDelayImportDirectory = 13,
};

struct Section {
    std::string name;     // as stored in its header: at most 8 characters
    uint32_t address;     // virtual address, the image base added
    uint32_t virtualSize;
    uint32_t fileOffset;  // of its raw data
    uint32_t fileSize;
    uint32_t flags;
    size_t headerOffset;  // of its 40-byte header in the file

    bool Contains(uint32_t va) const { return va >= address && va - address < virtualSize; }
    bool Writable() const { return (flags & kSectionWrite) != 0; }
    bool Executable() const { return (flags & kSectionExecute) != 0; }
};

struct DataDirectory {
    uint32_t rva;
    uint32_t size;
};

struct Export {
    uint32_t base;
    uint32_t functionCount;
    uint32_t nameCount;
    std::string dllName;
    std::vector<uint32_t> functions; // virtual addresses, by ordinal - base
};

// One function of a regular import: its slot is the import address table
// cell the loader fills.
struct ImportedFunction {
    std::string dll;
    std::string name; // empty when imported by ordinal
    uint32_t slot;    // virtual address of its import address table cell
    uint32_t dllName; // virtual address of the library's name
};

// One library of the delay-import directory, its fields as stored and the
// tables they point to, read as the old form (attributes 0: absolute
// addresses) or the new one (attribute bit 0: addresses relative to the base).
struct DelayLibrary {
    uint32_t descriptor; // virtual address of its 32-byte descriptor
    uint32_t attributes;
    std::string name;
    uint32_t moduleCell;
    uint32_t addressTable;
    uint32_t nameTable;
    uint32_t boundTable;
    uint32_t unloadTable;
    uint32_t timeStamp;
    struct Function {
        std::string name;
        uint16_t hint;
        uint32_t cell;       // virtual address of its address cell
        uint32_t cellValue;  // what the cell holds at load
    };
    std::vector<Function> functions;
};

class PeFile {
public:
    // Parses the headers, the section table and the symbol table; throws
    // ImageError on a file that is no PE32 image.
    explicit PeFile(std::vector<uint8_t> bytes);
    static PeFile Load(const std::string &path);

    const std::vector<uint8_t> &bytes() const { return bytes_; }

    uint16_t machine() const { return machine_; }
    uint16_t characteristics() const { return characteristics_; }
    uint16_t magic() const { return magic_; }
    uint32_t imageBase() const { return imageBase_; }
    uint32_t entryPoint() const { return imageBase_ + entryRva_; } // virtual address
    uint32_t sizeOfImage() const { return sizeOfImage_; }
    uint32_t checkSum() const { return checkSum_; }
    size_t checkSumOffset() const { return optionalOffset_ + 64; }
    size_t fileHeaderOffset() const { return fileHeaderOffset_; } // after the PE signature
    const std::vector<Section> &sections() const { return sections_; }
    DataDirectory directory(unsigned index) const;
    // File offset of data directory `index`'s entry (rva, size).
    size_t DirectoryEntryOffset(unsigned index) const;

    // The section that holds a virtual address, or null.
    const Section *SectionAt(uint32_t va) const;
    // The section of that name; throws when there is none or more than one.
    const Section &SectionNamed(const std::string &name) const;

    // Bytes at a virtual address, all of them inside one section's raw data
    // (bytes past the raw data but inside the virtual size read as zero).
    std::vector<uint8_t> Read(uint32_t va, size_t count) const;
    uint32_t U32(uint32_t va) const;
    uint16_t U16(uint32_t va) const;
    std::string CString(uint32_t va, size_t limit = 256) const;
    // The file offset of `count` bytes at a virtual address, all of them in
    // one section's raw data (throws for bytes the file does not hold).
    size_t FileOffset(uint32_t va, size_t count) const;

    // The address of a COFF symbol; throws when it is missing or defined
    // more than once.
    uint32_t Symbol(const std::string &name) const;
    bool HasSymbol(const std::string &name) const;
    // Every symbol, by name, with all its addresses (absolute symbols and
    // those of no section left out).
    // Read from the file on the first question: the loader's checks before
    // a load need none of them.
    const std::map<std::string, std::vector<uint32_t>> &symbols() const;

    // The tables behind the data directories. Each throws when its
    // directory is empty or does not lie in the image.
    Export Exports() const;
    std::vector<ImportedFunction> Imports() const;
    std::vector<DelayLibrary> DelayImports() const;
    // Virtual addresses of the 32-bit cells that base relocations fix up
    // (type HIGHLOW); throws on any other type but the padding type 0.
    std::set<uint32_t> Relocations() const;

    // The checksum of the optional header, as the loader computes it over
    // the whole file with the checksum field counted as zero.
    uint32_t ComputeCheckSum() const;

private:
    uint32_t FileU32(size_t offset) const;
    uint16_t FileU16(size_t offset) const;
    void ReadSymbols() const;

    std::vector<uint8_t> bytes_;
    uint16_t machine_ = 0, characteristics_ = 0, magic_ = 0;
    uint32_t imageBase_ = 0, entryRva_ = 0, sizeOfImage_ = 0, checkSum_ = 0;
    size_t fileHeaderOffset_ = 0, optionalOffset_ = 0;
    uint32_t directoryCount_ = 0;
    std::vector<Section> sections_;
    uint32_t symbolTable_ = 0, symbolCount_ = 0;
    mutable bool symbolsRead_ = false;
    mutable std::map<std::string, std::vector<uint32_t>> symbols_;
};

// Writes the delay-import directory entry (data directory 13) of a built
// image: the descriptors from the symbol _DelayImportDirectory up to
// _DelayImportDirectoryEnd. GNU ld leaves the entry empty. The optional
// header's checksum is brought up to date when the link set one.
void SetDelayImportDirectory(std::vector<uint8_t> &bytes);

} // namespace image
