// The version resource, as the file's properties show it: one VERSIONINFO in
// Polish, its fixed part and its strings carrying the project's version
// (handed to this program by the build) and the product's names.
#include "check.h"

#include <string_view>

#ifndef TOLMAR_VERSION_MAJOR
#error "the build passes the project's version (TOLMAR_VERSION_MAJOR, _MINOR, _PATCH)"
#endif

namespace image {
namespace {

constexpr unsigned kResourceDirectory = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kLangPolish = 0x0415;
constexpr uint32_t kSubdirectory = 0x80000000;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kFileTypeDll = 2;

// A resource directory: its 16-byte header, then 8-byte entries (id or name,
// offset of the data or of the next level with the top bit set), offsets
// counted from the start of the resource section's data.
struct ResourceEntry {
    uint32_t id;
    uint32_t offset;
};
std::vector<ResourceEntry> ResourceEntries(const PeFile &pe, uint32_t root, uint32_t dir)
{
    uint32_t count = uint32_t{pe.U16(root + dir + 12)} + pe.U16(root + dir + 14);
    std::vector<ResourceEntry> out;
    for (uint32_t i = 0; i < count; ++i)
        out.push_back({pe.U32(root + dir + 16 + 8 * i), pe.U32(root + dir + 20 + 8 * i)});
    return out;
}

std::u16string Utf16(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::string VersionText()
{
    return std::to_string(TOLMAR_VERSION_MAJOR) + "." + std::to_string(TOLMAR_VERSION_MINOR) + "." +
           std::to_string(TOLMAR_VERSION_PATCH);
}

// The value of a VALUE "key", "text" in the resource's bytes: the key in
// UTF-16 with its terminator, padding to a 32-bit boundary, then the text.
std::u16string StringValue(const std::vector<uint8_t> &data, std::string_view key)
{
    std::u16string k = Utf16(key);
    k.push_back(0);
    auto at = [&](size_t i) { return static_cast<char16_t>(data[i] | data[i + 1] << 8); };
    for (size_t start = 6; start + 2 * k.size() <= data.size(); start += 2) {
        size_t i = 0;
        while (i < k.size() && at(start + 2 * i) == k[i])
            ++i;
        if (i < k.size())
            continue;
        size_t value = (start + 2 * k.size() + 3) & ~size_t{3};
        std::u16string out;
        while (value + 1 < data.size() && at(value) != 0) {
            out.push_back(at(value));
            value += 2;
        }
        return out;
    }
    return u"(no such value)";
}

std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t ch : s)
        out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
}

void VersionResource(const PeFile &pe, Check &c)
{
    DataDirectory d = pe.directory(kResourceDirectory);
    c.That(d.rva != 0 && d.size != 0, "the image has a resource directory");
    if (d.rva == 0)
        return;
    uint32_t root = pe.imageBase() + d.rva;
    std::vector<ResourceEntry> types = ResourceEntries(pe, root, 0);
    c.Equal(types.size(), 1, "resource types (the version alone)");
    if (types.size() != 1)
        return;
    c.Equal(types[0].id, kRtVersion, "the resource type is RT_VERSION");
    c.That(types[0].offset & kSubdirectory, "the type leads to its names");
    std::vector<ResourceEntry> names = ResourceEntries(pe, root, types[0].offset & ~kSubdirectory);
    c.Equal(names.size(), 1, "version resources");
    if (names.size() != 1)
        return;
    c.Equal(names[0].id, 1, "the version resource is number 1");
    std::vector<ResourceEntry> languages = ResourceEntries(pe, root, names[0].offset & ~kSubdirectory);
    c.Equal(languages.size(), 1, "languages of the version resource");
    if (languages.size() != 1)
        return;
    c.Equal(languages[0].id, kLangPolish, "its language is Polish");
    uint32_t entry = root + languages[0].offset;
    std::vector<uint8_t> data = pe.Read(pe.imageBase() + pe.U32(entry), pe.U32(entry + 4));

    // VS_VERSIONINFO: a header of three words, the key "VS_VERSION_INFO",
    // padding, then VS_FIXEDFILEINFO.
    auto u32 = [&](size_t i) { return uint32_t(data[i] | data[i + 1] << 8 | data[i + 2] << 16 | data[i + 3] << 24); };
    size_t fixed = (6 + 2 * (Utf16("VS_VERSION_INFO").size() + 1) + 3) & ~size_t{3};
    c.That(data.size() >= fixed + 52, "the resource holds the fixed part");
    if (data.size() < fixed + 52)
        return;
    uint32_t ms = uint32_t{TOLMAR_VERSION_MAJOR} << 16 | TOLMAR_VERSION_MINOR;
    uint32_t ls = uint32_t{TOLMAR_VERSION_PATCH} << 16;
    c.Equal(u32(fixed), kFixedSignature, "signature of the fixed part");
    c.Equal(u32(fixed + 8), ms, "file version, major and minor");
    c.Equal(u32(fixed + 12), ls, "file version, patch and build");
    c.Equal(u32(fixed + 16), ms, "product version, major and minor");
    c.Equal(u32(fixed + 20), ls, "product version, patch and build");
    c.Equal(u32(fixed + 28), 0, "file flags (no debug, no pre-release)");
    c.Equal(u32(fixed + 36), kFileTypeDll, "file type is a DLL");

    c.Equal(Narrow(StringValue(data, "FileVersion")), VersionText(), "FileVersion");
    c.Equal(Narrow(StringValue(data, "ProductVersion")), VersionText(), "ProductVersion");
    c.Equal(Narrow(StringValue(data, "ProductName")), "Tolmar", "ProductName");
    c.Equal(Narrow(StringValue(data, "OriginalFilename")), "Tolmar.dll", "OriginalFilename");
    std::u16string description = StringValue(data, "FileDescription");
    c.That(description.find(u"Dok. sprzeda\u017Cy z MM (Ctrl+8 dok.spr.)") != std::u16string::npos,
           "FileDescription holds the plug-in's title in Polish: " + Narrow(description));
}

} // namespace

const std::vector<Case> &ResourceCases()
{
    static const std::vector<Case> cases = {
        {"resource/version", VersionResource},
    };
    return cases;
}

} // namespace image
