// The checks on the built Tolmar.dll over the one reader of its file
// (host/pe_file.h), a native program of the build machine.
//
//   tolmar_image check DLL                 every image check, one named case each
//   tolmar_image set-delay-import-dir DLL  the post-link patch the build runs
//
// `check` runs every case on the image, then on damaged copies of it made in
// memory, each of which named cases must reject: so a case that could not
// fail would show. It exits 0 only when every case passed on the image and
// every damaged copy was rejected.
#include "check.h"
#include "host/pe_file.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>

namespace image {
namespace {

constexpr size_t kShownFailures = 8;

struct Result {
    bool passed;
    unsigned stated;
    std::vector<std::string> failures;
};

Result Run(const Case &c, const PeFile &pe)
{
    Check check;
    try {
        c.run(pe, check);
    } catch (const std::exception &e) {
        check.That(false, e.what());
    }
    if (check.stated() == 0)
        check.That(false, "the case found nothing to check");
    return {check.failures().empty(), check.stated(), check.failures()};
}

// The post-link patch, checked by doing it again: a copy whose directory
// entry is cleared comes back byte for byte as the build left the image.
void DelayImportPatch(const PeFile &pe, Check &c)
{
    std::vector<uint8_t> copy = pe.bytes();
    size_t entry = pe.DirectoryEntryOffset(kDelayImportDirectory);
    std::fill(copy.begin() + entry, copy.begin() + entry + 8, 0);
    c.That(copy != pe.bytes(), "clearing the delay-import directory entry changed nothing");
    SetDelayImportDirectory(copy);
    c.That(copy == pe.bytes(), "set-delay-import-dir on the cleared copy gives another file");
}

std::vector<Case> AllCases()
{
    std::vector<Case> all;
    for (const auto *list : {&ShapeCases(), &CatalogueCases(), &DelayImportCases(), &GuardCases(),
                             &RelocationCases(), &FormTableCases(), &TextCases(),
                             &ResourceCases()})
        all.insert(all.end(), list->begin(), list->end());
    all.push_back({"patch/delay-import-dir", DelayImportPatch});
    return all;
}

// --- Damaged copies ----------------------------------------------------------

void PutU32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<uint8_t>(value >> 8 * i);
}

size_t FileOffset(const PeFile &pe, uint32_t va)
{
    const Section *s = pe.SectionAt(va);
    if (!s || va - s->address >= s->fileSize)
        throw ImageError("address " + Hex(va) + " has no bytes in the file");
    return s->fileOffset + (va - s->address);
}

// The file offset of the first occurrence of `needle` in `size` bytes at `va`.
size_t FileOffsetOf(const PeFile &pe, uint32_t va, size_t size, const std::vector<uint8_t> &needle)
{
    std::vector<uint8_t> bytes = pe.Read(va, size);
    auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
    if (at == bytes.end())
        throw ImageError("\"" + Printable(std::string(needle.begin(), needle.end())) +
                         "\" not found at " + Hex(va));
    return FileOffset(pe, va + static_cast<uint32_t>(at - bytes.begin()));
}

struct Damage {
    const char *what;
    std::function<void(const PeFile &, std::vector<uint8_t> &)> apply;
    std::vector<std::string> rejectedBy; // cases that must fail on the copy
    const char *reason;                  // a word of their first failure
};

const std::vector<Damage> &Damages()
{
    static const std::vector<Damage> damages = {
        {"the import section made read-only, as a tool chain with a read-only import table "
         "would leave it",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             const Section &s = pe.SectionNamed(".idata");
             PutU32(b, s.headerOffset + 36, s.flags & ~kSectionWrite); // Characteristics
         },
         {"guards/slots", "guards/import-table-writable"},
         "not writable"},
        {"the DLL bit of the characteristics cleared",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             b[pe.fileHeaderOffset() + 18 + 1] &= ~(kFileDll >> 8); // Characteristics
         },
         {"shape/dll"},
         "IMAGE_FILE_DLL"},
        {"the section of the slot table gone (its size 0)",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             const Section *s = pe.SectionAt(pe.Symbol("_EntrySlotTable"));
             PutU32(b, s->headerOffset + 8, 0); // VirtualSize
         },
         {"catalogue/slot-table"},
         "no section"},
        {"the delay-import directory entry cleared",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             size_t at = pe.DirectoryEntryOffset(kDelayImportDirectory);
             PutU32(b, at, 0);
             PutU32(b, at + 4, 0);
         },
         {"delay/directory", "delay/zunda", "delay/user32", "guards/slots"},
         "empty"},
        {"the first two guard rows swapped",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             uint32_t table = pe.Symbol("_ApiGuardTable");
             PutU32(b, FileOffset(pe, table), pe.U32(table + 4));
             PutU32(b, FileOffset(pe, table + 4), pe.U32(table));
         },
         {"guards/slots"},
         "row 0 (AllocConsole"},
        {"the guard of CreateFileA (7 arguments) removing 24 bytes instead of 28",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             uint32_t guard = pe.Symbol("ApiGuard_CreateFileA");
             // pushal, seven pushes, call *row, movl and popal: then ret $28.
             b[FileOffset(pe, guard + 1 + 7 * 4 + 6 + 5 + 1)] = 24;
         },
         {"guards/code"},
         "CreateFileA"},
        {"a slot holding another entry's first-call piece",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             uint32_t slot = pe.Symbol("EntrySlot_20000");
             PutU32(b, FileOffset(pe, slot), pe.Symbol("FirstCall_20001"));
         },
         {"catalogue/thunk-code"},
         "slot of 20000"},
        {"a number of the hundred series changed (30120 to 30124)",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             PutU32(b, FileOffset(pe, pe.Symbol("_HundredSeriesTable")), 30124);
         },
         {"catalogue/hundred-series"},
         "30124"},
        {"a ZUNDA.dll function renamed (lstrlenW to lstrlenX)",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             const DelayLibrary &zunda = pe.DelayImports().at(0);
             uint32_t entry = pe.U32(zunda.nameTable);
             b[FileOffset(pe, entry + 2 + 7)] = 'X';
         },
         {"delay/zunda"},
         "lstrlenX"},
        {"a letter of a FormTable title changed",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             b[FileOffsetOf(pe, pe.Symbol("_FormTable"), 646, {'W', 'y', 'b', 'i', 'e', 'r', 'z'})] =
                 'w';
         },
         {"form-table/bytes"},
         "wybierz"},
        {"a Polish letter of a message changed (the ę of \"Proszę czekać!\" to e)",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             const Section &rdata = pe.SectionNamed(".rdata");
             b[FileOffsetOf(pe, rdata.address, rdata.virtualSize,
                            {'P', 'r', 'o', 's', 'z', 0x91, ' ', 'c', 'z', 'e', 'k', 'a', 0x8D}) +
               5] = 'e'; // the byte 0x91
         },
         {"texts/mazovia"},
         "Prosz\\x91 czeka"},
        {"the base relocations gone",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             PutU32(b, pe.DirectoryEntryOffset(kRelocationDirectory), 0);
         },
         {"relocations/absolute-addresses", "relocations/plain-data"},
         "relocation"},
        {"the file name in the version resource changed (Tolmar.dll to Tolmaz.dll)",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             const Section &s = pe.SectionNamed(".rsrc");
             std::vector<uint8_t> name;
             for (char ch : std::string("Tolmar.dll"))
                 name.insert(name.end(), {static_cast<uint8_t>(ch), 0});
             size_t at = FileOffsetOf(pe, s.address, s.virtualSize, name);
             b[at + 10] = 'z';
         },
         {"resource/version"},
         "OriginalFilename"},
        {"a stale checksum",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             PutU32(b, pe.checkSumOffset(), pe.checkSum() + 1);
         },
         {"shape/checksum"},
         "checksum"},
        {"the symbol table gone",
         [](const PeFile &pe, std::vector<uint8_t> &b) {
             PutU32(b, pe.fileHeaderOffset() + 8, 0);  // PointerToSymbolTable
             PutU32(b, pe.fileHeaderOffset() + 12, 0); // NumberOfSymbols
         },
         {"shape/one-export-by-ordinal", "catalogue/entries", "catalogue/thunk-code", "guards/rows",
          "delay/directory", "form-table/bytes"},
         "no symbol"},
    };
    return damages;
}

// Runs the cases on a damaged copy; passes when each case named for the
// damage fails, the first of them for the stated reason.
bool Rejected(const Damage &d, const PeFile &pe, const std::vector<Case> &cases,
              std::string &report)
{
    std::vector<uint8_t> copy = pe.bytes();
    d.apply(pe, copy);
    std::vector<const Case *> named;
    for (const Case &c : cases)
        if (std::find(d.rejectedBy.begin(), d.rejectedBy.end(), c.name) != d.rejectedBy.end())
            named.push_back(&c);
    std::vector<std::pair<std::string, Result>> results;
    try {
        PeFile damaged(copy);
        for (const Case *c : named)
            results.emplace_back(c->name, Run(*c, damaged));
    } catch (const std::exception &e) {
        for (const Case *c : named)
            results.emplace_back(c->name, Result{false, 0, {e.what()}});
    }
    bool ok = true;
    std::string first;
    for (const std::string &name : d.rejectedBy) {
        auto it = std::find_if(results.begin(), results.end(),
                               [&](const auto &r) { return r.first == name; });
        if (it == results.end()) {
            report += " no case " + name + ";";
            ok = false;
        } else if (it->second.passed) {
            report += " " + name + " passed it;";
            ok = false;
        } else if (first.empty()) {
            first = it->second.failures.front();
        }
    }
    if (ok && first.find(d.reason) == std::string::npos) {
        report += " rejected, but not for its reason (" + std::string(d.reason) + "): " + first;
        ok = false;
    }
    if (ok)
        report =
            " rejected by " + std::to_string(d.rejectedBy.size()) + " case(s), first: " + first;
    return ok;
}

int CheckImage(const std::string &path)
{
    PeFile pe = PeFile::Load(path);
    std::vector<Case> cases = AllCases();
    unsigned failed = 0;
    for (const Case &c : cases) {
        Result r = Run(c, pe);
        if (r.passed) {
            std::cout << "ok: " << c.name << " (" << r.stated << " checks)\n";
            continue;
        }
        ++failed;
        std::cout << "FAIL: " << c.name << "\n";
        for (size_t i = 0; i < r.failures.size() && i < kShownFailures; ++i)
            std::cout << "    " << r.failures[i] << "\n";
        if (r.failures.size() > kShownFailures)
            std::cout << "    ... and " << r.failures.size() - kShownFailures << " more\n";
    }
    unsigned notRejected = 0;
    for (const Damage &d : Damages()) {
        std::string report;
        bool ok = false;
        try {
            ok = Rejected(d, pe, cases, report);
        } catch (const std::exception &e) {
            report = std::string(" could not be made: ") + e.what();
        }
        std::cout << (ok ? "ok: " : "FAIL: ") << "damaged copy, " << d.what << ":" << report
                  << "\n";
        notRejected += !ok;
    }
    std::cout << cases.size() - failed << " of " << cases.size() << " cases passed on " << path
              << "; " << Damages().size() - notRejected << " of " << Damages().size()
              << " damaged copies rejected\n";
    return failed == 0 && notRejected == 0 ? 0 : 1;
}

int PatchDelayImportDirectory(const std::string &path)
{
    PeFile pe = PeFile::Load(path);
    std::vector<uint8_t> bytes = pe.bytes();
    image::SetDelayImportDirectory(bytes);
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw ImageError("cannot write " + path);
    return 0;
}

} // namespace
} // namespace image

int main(int argc, char **argv)
{
    std::string mode = argc == 3 ? argv[1] : "";
    try {
        if (mode == "check")
            return image::CheckImage(argv[2]);
        if (mode == "set-delay-import-dir")
            return image::PatchDelayImportDirectory(argv[2]);
    } catch (const std::exception &e) {
        std::cerr << argv[0] << ": " << argv[2] << ": " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: " << argv[0] << " check DLL\n"
              << "       " << argv[0] << " set-delay-import-dir DLL\n";
    return 2;
}
