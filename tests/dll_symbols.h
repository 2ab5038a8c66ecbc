// Where the plug-in's own data and code lie in the loaded module: the
// addresses of its COFF symbols, read from the file the host loaded by the
// image reader (host/pe_file.h), moved by the distance the loader moved the
// module from its preferred base. None of them is exported; this is how a
// test reaches the module's state without linking it in.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/pe_file.h"
#include "tests/pe_imports.h"

namespace dll {

class Symbols {
public:
    // The file the module was loaded from (pe::ModuleFile).
    explicit Symbols(HMODULE module)
        : pe_(pe::ModuleFile(module)),
          delta_(reinterpret_cast<uintptr_t>(module) - pe_->imageBase())
    {
    }

    // The loaded address of a symbol; throws (image::ImageError) when the
    // file has none of that name or more than one.
    template <typename T = void>
    T *At(const std::string &name) const
    {
        return reinterpret_cast<T *>(static_cast<uintptr_t>(pe_->Symbol(name)) + delta_);
    }
    const image::PeFile &file() const { return *pe_; }
    // What a 32-bit cell of the image held in the file, moved as the loader
    // moves the addresses it relocates.
    void *Relocated(uint32_t fileValue) const
    {
        return reinterpret_cast<void *>(static_cast<uintptr_t>(fileValue) + delta_);
    }

private:
    std::shared_ptr<const image::PeFile> pe_;
    uintptr_t delta_;
};

} // namespace dll
