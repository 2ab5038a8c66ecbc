// The version resource of the built Tolmar.dll, read back through the
// system's own version functions, and the image's checksum. The expected
// version comes from the build (TOLMAR_VERSION_*), the other fields are
// stated here.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <string>
#include <vector>

#include "host/mazovia.h"
#include "host/stand_in_host.h"

namespace {

std::wstring DllPath()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + L"Tolmar.dll";
}

std::string Utf8(const std::wstring &text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override
    {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(DllPath().c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(DllPath().c_str(), 0, size, block.data()));
    }

    // The value under a sub-block path, or nothing.
    bool Query(const wchar_t *path, void **value, UINT *length)
    {
        return VerQueryValueW(block.data(), path, value, length) && *length > 0;
    }

    // A string of the Polish, Unicode string table.
    std::string String(const wchar_t *name)
    {
        std::wstring path = std::wstring(L"\\StringFileInfo\\041504B0\\") + name;
        void *value = nullptr;
        UINT length = 0;
        if (!Query(path.c_str(), &value, &length))
            return "<absent>";
        return Utf8(static_cast<const wchar_t *>(value));
    }

    std::vector<unsigned char> block;
};

constexpr DWORD kMajor = TOLMAR_VERSION_MAJOR, kMinor = TOLMAR_VERSION_MINOR,
                kPatch = TOLMAR_VERSION_PATCH;

TEST_F(VersionResource, FixedPartCarriesTheProjectVersion)
{
    void *value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(Query(L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto &fixed = *static_cast<const VS_FIXEDFILEINFO *>(value);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, kMajor << 16 | kMinor);
    EXPECT_EQ(fixed.dwFileVersionLS, kPatch << 16);
    EXPECT_EQ(fixed.dwProductVersionMS, kMajor << 16 | kMinor);
    EXPECT_EQ(fixed.dwProductVersionLS, kPatch << 16);
    EXPECT_EQ(fixed.dwFileFlags & fixed.dwFileFlagsMask, 0u); // no debug, pre-release, patched
    EXPECT_EQ(fixed.dwFileOS, DWORD(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_DLL));
    EXPECT_EQ(fixed.dwFileDateMS, 0u); // no build date
    EXPECT_EQ(fixed.dwFileDateLS, 0u);
}

TEST_F(VersionResource, OneTranslationPolishUnicode)
{
    void *value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(Query(L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto *pair = static_cast<const WORD *>(value);
    EXPECT_EQ(pair[0], 0x0415); // Polish
    EXPECT_EQ(pair[1], 1200);   // UTF-16
}

TEST_F(VersionResource, Strings)
{
    const struct {
        const wchar_t *name;
        std::string expected;
    } cases[] = {
        {L"FileDescription", "Tolmar: wtyczka „Dok. sprzedaży z MM (Ctrl+8 dok.spr.)”"},
        {L"FileVersion", TOLMAR_VERSION},
        {L"ProductVersion", TOLMAR_VERSION},
        {L"ProductName", "Tolmar"},
        {L"InternalName", "Tolmar"},
        {L"OriginalFilename", "Tolmar.dll"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(String(c.name), c.expected) << Utf8(c.name);
    EXPECT_EQ(std::string(TOLMAR_VERSION), std::to_string(kMajor) + "." + std::to_string(kMinor) +
                                               "." + std::to_string(kPatch));
}

// The description names the plug-in by the title the DLL hands to the host.
TEST_F(VersionResource, DescriptionHoldsThePluginsOwnTitle)
{
    host::StandInHost h;
    ASSERT_TRUE(h.Load());
    char title[64] = {};
    ASSERT_EQ(h.Start(title), 0);
    h.Stop();
    std::string title8 = host::MazoviaToUtf8(title);
    ASSERT_EQ(title8.size(), 38u); // 37 characters, ż taking two bytes
    EXPECT_NE(String(L"FileDescription").find("„" + title8 + "”"), std::string::npos)
        << String(L"FileDescription") << " / " << title8;
}

// The header's checksum is the file's, after every change the build made to
// the header.
TEST(ImageChecksum, HeaderHoldsTheFilesChecksum)
{
    std::wstring path = DllPath();
    DWORD inHeader = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(path.c_str(), &inHeader, &computed), DWORD(CHECKSUM_SUCCESS));
    EXPECT_NE(computed, 0u);
    EXPECT_EQ(inHeader, computed);
}

} // namespace
