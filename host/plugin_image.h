// The plug-in's file as the host reads it before loading: its preferred base
// and size (to occupy the base, so that the loader must relocate it), and
// the names of the libraries it imports (to bind its kernel imports to the
// DOS extender's kernel emulation, see host/dosx).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace host {

class PluginImage {
public:
    // Reads the whole file and its PE headers; false if it is no 32-bit PE
    // image.
    bool Read(const std::string &path);

    uint32_t imageBase() const { return imageBase_; }
    uint32_t sizeOfImage() const { return sizeOfImage_; }
    // The library names of the regular import table, as stored.
    std::vector<std::string> ImportNames() const;
    // Overwrites an import's library name in place, case ignored in the
    // search; the new name has the same length. False if there is none.
    bool RenameImport(const std::string &from, const std::string &to);
    bool Write(const std::string &path) const;

private:
    // The file offset of a relative address, or 0 if no section holds it.
    uint32_t Offset(uint32_t rva) const;
    template <typename T> const T *At(uint32_t offset) const;

    std::vector<uint8_t> bytes_;
    uint32_t imageBase_ = 0, sizeOfImage_ = 0;
    uint32_t importDirectory_ = 0; // relative address of the import table
    struct Section {
        uint32_t address, size, fileOffset, fileSize;
    };
    std::vector<Section> sections_;
};

// Where the loader finds a library given by a bare name: beside the program
// first, then the current directory. A path with a folder is kept.
std::string LibraryPath(const std::string &name);

} // namespace host
