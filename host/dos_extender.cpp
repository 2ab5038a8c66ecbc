// The stand-in host as it runs under the 32-bit DOS extender: the kernel
// emulation (host/dosx) that the plug-in's kernel imports are bound to, the
// kernel functions that the host's executable exports, and those it serves
// through HostQuery by name (the second and third steps of the ZUNDA.dll
// lookup).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "host/dosx/dosx.h"
#include "host/pe_file.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

void Record(const std::string &line)
{
    if (StandInHost *h = StandInHost::Active())
        h->Record(line);
}

std::string Hex(const void *p)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

// The file's bytes with an import entry's library name overwritten in place
// by one of the same length (case ignored in the search); empty if the file
// imports no such library.
std::vector<uint8_t> RenamedImport(const image::PeFile &file, const std::string &from,
                                   const std::string &to)
{
    if (from.size() != to.size())
        return {};
    try {
        for (const image::ImportedFunction &f : file.Imports())
            if (_stricmp(f.dll.c_str(), from.c_str()) == 0) {
                std::vector<uint8_t> bytes = file.bytes();
                std::memcpy(bytes.data() + file.FileOffset(f.dllName, to.size()), to.data(),
                            to.size());
                return bytes;
            }
    } catch (const image::ImageError &) {
    }
    return {};
}

} // namespace

extern "C" {

// Exported by the host's executable under the kernel's name.
BOOL WINAPI HostExeGetCPInfo(UINT codePage, CPINFO *info)
{
    Record("HostExe.GetCPInfo(" + std::to_string(codePage) + ")");
    return GetCPInfo(codePage, info);
}
__asm__(".section .drectve\n\t.ascii \" -export:GetCPInfo=HostExeGetCPInfo@8\"\n\t.text");

// Served through HostQuery(2, name).
wchar_t *WINAPI HostGetEnvironmentStringsW()
{
    Record("Host.GetEnvironmentStringsW()");
    return GetEnvironmentStringsW();
}
BOOL WINAPI HostFreeEnvironmentStringsW(wchar_t *block)
{
    Record("Host.FreeEnvironmentStringsW()");
    return FreeEnvironmentStringsW(block);
}

} // extern "C"

std::map<std::string, void *> HostProcedures()
{
    return {
        {"GetEnvironmentStringsW", reinterpret_cast<void *>(&HostGetEnvironmentStringsW)},
        {"FreeEnvironmentStringsW", reinterpret_cast<void *>(&HostFreeEnvironmentStringsW)},
    };
}

bool StandInHost::StartDosExtender()
{
    dosx_ = LoadLibraryA(LibraryPath(kDosxLibrary).c_str());
    if (!dosx_)
        return false;
    auto configure = reinterpret_cast<DosxConfigureFunction>(
        reinterpret_cast<void *>(GetProcAddress(dosx_, "DosxConfigure")));
    if (!configure)
        return false;
    lacking_.clear();
    for (const std::string &name : loadOptions.kernelLacks)
        lacking_ += name + '\0';
    lacking_ += '\0';
    const DosxHost host{lacking_.c_str(), &SystemMessageBox, &KernelNote};
    configure(&host);
    return true;
}

// A copy of the DLL beside the system's temporary files, its import entry
// "KERNEL32.dll" overwritten by the emulation's name of the same length;
// every other byte is the DLL's own.
std::string StandInHost::WriteDosCopy(const image::PeFile &file)
{
    std::vector<uint8_t> bytes = RenamedImport(file, kKernelLibrary, kDosxLibrary);
    if (bytes.empty())
        return "";
    static int copies;
    char folder[MAX_PATH] = {};
    DWORD n = GetTempPathA(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH)
        return "";
    copy_ = std::string(folder) + "Tolmar-dosx-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++copies) + ".dll";
    std::ofstream out(copy_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        DeleteFileA(copy_.c_str());
        copy_.clear();
    }
    return copy_;
}

void StandInHost::EndDosExtender()
{
    if (!copy_.empty())
        DeleteFileA(copy_.c_str());
    copy_.clear();
    if (dosx_) {
        if (auto configure = reinterpret_cast<DosxConfigureFunction>(
                reinterpret_cast<void *>(GetProcAddress(dosx_, "DosxConfigure"))))
            configure(nullptr);
        FreeLibrary(dosx_);
    }
    dosx_ = nullptr;
}

std::string StandInHost::ModuleName(HMODULE module) const
{
    if (!module)
        return "null";
    if (module == dosx_)
        return "kernel";
    if (module == GetModuleHandleA(nullptr))
        return "host";
    if (module == module_)
        return "plug-in";
    return Hex(module);
}

void __cdecl StandInHost::KernelNote(const char *function, HMODULE module, const char *name,
                                     const void *result)
{
    StandInHost *h = Active();
    if (!h)
        return;
    std::string line = std::string(function) + "(";
    if (std::string(function) == "GetProcAddress")
        line += h->ModuleName(module) + ", ";
    if (!name)
        line += "null";
    else if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        line += '#';
        line += std::to_string(reinterpret_cast<uintptr_t>(name));
    } else
        line += std::string("\"") + name + "\"";
    line += ") -> ";
    if (std::string(function) == "GetProcAddress")
        line += result ? "found" : "null";
    else
        line += h->ModuleName(static_cast<HMODULE>(const_cast<void *>(result)));
    h->kernelCalls.push_back(line);
}

} // namespace host
