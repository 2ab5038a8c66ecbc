#include "check.h"

#include <cstdio>

namespace image {

std::string HexBytes(const std::vector<uint8_t> &bytes)
{
    std::string out;
    char text[4];
    for (uint8_t b : bytes) {
        snprintf(text, sizeof text, "%s%02x", out.empty() ? "" : " ", b);
        out += text;
    }
    return out;
}

std::string Printable(const std::string &text)
{
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void Check::That(bool ok, const std::string &what)
{
    ++stated_;
    if (!ok)
        failures_.push_back(what);
}

void Check::Equal(uint64_t actual, uint64_t expected, const std::string &what)
{
    // Addresses in hexadecimal, counts and numbers in decimal.
    auto show = [big = actual >= 0x100000 || expected >= 0x100000](uint64_t v) {
        return big ? Hex(static_cast<uint32_t>(v)) : std::to_string(v);
    };
    That(actual == expected, what + ": " + show(actual) + ", expected " + show(expected));
}

void Check::Equal(const std::string &actual, const std::string &expected, const std::string &what)
{
    That(actual == expected,
         what + ": \"" + Printable(actual) + "\", expected \"" + Printable(expected) + "\"");
}

namespace {

template <typename T, typename Show>
void EqualLists(Check &c, const std::vector<T> &actual, const std::vector<T> &expected,
                const std::string &what, Show show)
{
    if (actual == expected) {
        c.That(true, what);
        return;
    }
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    std::string at = std::to_string(actual.size()) + " items, expected " +
                     std::to_string(expected.size()) + "; first difference at " +
                     std::to_string(i) + ": ";
    at += i < actual.size() ? show(actual[i]) : "(none)";
    at += ", expected ";
    at += i < expected.size() ? show(expected[i]) : "(none)";
    c.That(false, what + ": " + at);
}

} // namespace

void Check::Equal(const std::vector<std::string> &actual, const std::vector<std::string> &expected,
                  const std::string &what)
{
    EqualLists(*this, actual, expected, what, [](const std::string &s) { return s; });
}

void Check::Equal(const std::vector<uint32_t> &actual, const std::vector<uint32_t> &expected,
                  const std::string &what)
{
    EqualLists(*this, actual, expected, what, [](uint32_t v) { return std::to_string(v); });
}

void Check::Code(const PeFile &pe, uint32_t va, const std::vector<uint8_t> &expected,
                 const std::string &what)
{
    std::vector<uint8_t> actual = pe.Read(va, expected.size());
    That(actual == expected,
         what + " at " + Hex(va) + ": " + HexBytes(actual) + ", expected " + HexBytes(expected));
}

void Check::Writable(const PeFile &pe, uint32_t va, bool writable, const std::string &what)
{
    const Section *s = pe.SectionAt(va);
    if (!s) {
        That(false, what + ": " + Hex(va) + " lies in no section");
        return;
    }
    That(s->Writable() == writable, what + ": " + Hex(va) + " lies in " + s->name + ", which is " +
                                        (s->Writable() ? "writable" : "not writable"));
}

Bytes &Bytes::Op(std::initializer_list<uint8_t> bytes)
{
    bytes_.insert(bytes_.end(), bytes);
    return *this;
}

Bytes &Bytes::U16(uint16_t value)
{
    return Op({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

Bytes &Bytes::U32(uint32_t value)
{
    return U16(static_cast<uint16_t>(value)).U16(static_cast<uint16_t>(value >> 16));
}

Bytes &Bytes::Rel32(uint32_t target)
{
    return U32(target - (at_ + static_cast<uint32_t>(bytes_.size()) + 4));
}

} // namespace image
