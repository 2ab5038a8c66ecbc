#pragma once
// The named cases run on the built image, and what a case uses to state its
// expectations.
#include "host/pe_file.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace image {

std::string HexBytes(const std::vector<uint8_t> &bytes);
std::string Printable(const std::string &text);

// One case's record: how many expectations it stated and which failed. A
// case that states none fails as well: it found nothing to check.
class Check {
public:
    void That(bool ok, const std::string &what);
    void Equal(uint64_t actual, uint64_t expected, const std::string &what);
    void Equal(const std::string &actual, const std::string &expected, const std::string &what);
    // Lists compared element by element: a difference names its index.
    void Equal(const std::vector<std::string> &actual, const std::vector<std::string> &expected,
               const std::string &what);
    void Equal(const std::vector<uint32_t> &actual, const std::vector<uint32_t> &expected,
               const std::string &what);
    // The bytes at `va` against `expected`.
    void Code(const PeFile &pe, uint32_t va, const std::vector<uint8_t> &expected,
              const std::string &what);
    // The section of a virtual address: present, and writable or not.
    void Writable(const PeFile &pe, uint32_t va, bool writable, const std::string &what);

    unsigned stated() const { return stated_; }
    const std::vector<std::string> &failures() const { return failures_; }

private:
    unsigned stated_ = 0;
    std::vector<std::string> failures_;
};

// i386 code written out as bytes, for comparing with the image: absolute
// operands as they lie in the file, relative ones from the given address.
class Bytes {
public:
    explicit Bytes(uint32_t at) : at_(at) {}
    Bytes &Op(std::initializer_list<uint8_t> bytes);
    Bytes &U16(uint16_t value);
    Bytes &U32(uint32_t value);
    Bytes &Rel32(uint32_t target); // the operand of call or jmp rel32
    const std::vector<uint8_t> &bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

private:
    uint32_t at_;
    std::vector<uint8_t> bytes_;
};

struct Case {
    const char *name;
    void (*run)(const PeFile &, Check &);
};

// The cases, by subject.
const std::vector<Case> &ShapeCases();
const std::vector<Case> &CatalogueCases();
const std::vector<Case> &DelayImportCases();
const std::vector<Case> &GuardCases();
const std::vector<Case> &RelocationCases();
const std::vector<Case> &FormTableCases();
const std::vector<Case> &TextCases();
const std::vector<Case> &ResourceCases();

} // namespace image
