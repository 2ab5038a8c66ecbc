// Start, stop and attachment, through the real DLL in the stand-in host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/mazovia.h"
#include "host/pe_file.h"
#include "host/stand_in_host.h"
#include "tests/pe_imports.h"

namespace {

const std::string kTitle = host::Utf8ToMazovia("Dok. sprzedaży z MM (Ctrl+8 dok.spr.)");

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(h.Load()); }
    host::StandInHost h;
};

// Where and how the DLL was loaded: at its preferred base, or, when the
// host occupied that first (TOLMAR_HOST_RELOCATE=1, the relocated run of
// this program), at another one the loader relocated it to. Start and stop
// run there alike.
TEST_F(Lifecycle, LoadedWhereTheHostLeftRoom)
{
    ASSERT_NE(h.preferredBase(), 0u);
    auto base = reinterpret_cast<uintptr_t>(h.module());
    if (h.loadOptions.occupyPreferredBase)
        EXPECT_NE(base, h.preferredBase()) << "the loader had to relocate the DLL";
    else
        EXPECT_EQ(base, h.preferredBase());
    // Under the DOS extender (TOLMAR_HOST_ENV=dos, this program's DOS run)
    // the host loaded a copy bound to the extender's kernel emulation.
    EXPECT_EQ(h.dosExtender() != nullptr, h.loadOptions.dosExtender);
    EXPECT_EQ(h.loadedFile() != h.pluginFile(), h.loadOptions.dosExtender);
    char title[64] = {};
    EXPECT_EQ(h.Start(title), 0);
    EXPECT_EQ(std::string(title), kTitle);
    EXPECT_EQ(h.Stop(), 0);
}

// The same load with the base occupied, whatever this run's setting.
TEST(Load, OccupiedBaseIsRelocated)
{
    host::StandInHost h;
    h.loadOptions.occupyPreferredBase = true;
    ASSERT_TRUE(h.Load());
    EXPECT_TRUE(h.relocated());
    EXPECT_NE(reinterpret_cast<uintptr_t>(h.module()), h.preferredBase());
    EXPECT_EQ(h.Start(nullptr), 0);
    EXPECT_NE(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
    EXPECT_EQ(h.Stop(), 0);
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
}

// A file that is no whole plug-in is refused by the reader of the file
// before anything is loaded: missing, no PE image at all, the DLL's headers
// with the rest of the file cut off, or the DLL with a header field whose
// sum with an offset passes 32 bits (in this program's 32-bit arithmetic
// it would wrap to a small number and pass as inside the file).
TEST(Load, RefusesAFileThatIsNoPlugIn)
{
    std::ifstream dll(host::LibraryPath("Tolmar.dll"), std::ios::binary);
    std::string whole{std::istreambuf_iterator<char>(dll), std::istreambuf_iterator<char>()};
    ASSERT_GT(whole.size(), 1024u);
    char folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    auto headers = [](std::string &bytes) {
        auto dos = reinterpret_cast<IMAGE_DOS_HEADER *>(bytes.data());
        return reinterpret_cast<IMAGE_NT_HEADERS32 *>(&bytes[dos->e_lfanew]);
    };
    std::string directoriesPastTheTop = whole; // 8 bytes each
    headers(directoriesPastTheTop)->OptionalHeader.NumberOfRvaAndSizes = 0x20000000;
    std::string sectionPastTheTop = whole;
    IMAGE_SECTION_HEADER *first = IMAGE_FIRST_SECTION(headers(sectionPastTheTop));
    first->SizeOfRawData = 0x1000;
    first->PointerToRawData = 0xFFFFF000;
    const std::string path =
        std::string(folder) + "Tolmar-refused-" + std::to_string(GetCurrentProcessId()) + ".dll";
    const struct {
        const char *what;
        bool written;
        std::string bytes;
    } cases[] = {
        {"no such file", false, ""},
        {"a text file", true, "MZ is not enough: no PE header follows.\n"},
        {"the headers alone", true, whole.substr(0, 1024)},
        {"2^29 data directories", true, directoriesPastTheTop},
        {"a section's data ending at 4 GiB", true, sectionPastTheTop},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(path.c_str());
        if (c.written) {
            EXPECT_THROW(image::PeFile(std::vector<uint8_t>(c.bytes.begin(), c.bytes.end())),
                         image::ImageError);
            std::ofstream out(path, std::ios::binary);
            out << c.bytes;
            out.close();
            ASSERT_TRUE(out);
        }
        host::StandInHost h;
        EXPECT_FALSE(h.Load(path.c_str()));
        EXPECT_EQ(h.module(), nullptr);
    }
    DeleteFileA(path.c_str());
}

TEST_F(Lifecycle, StartCopiesTitleAndHooks)
{
    char title[64];
    std::memset(title, 0x7F, sizeof title);
    EXPECT_EQ(h.Start(title), 0);
    ASSERT_EQ(kTitle.size() + 1, 38u);
    EXPECT_EQ(std::memcmp(title, kTitle.c_str(), 38), 0);
    for (size_t k = 38; k < sizeof title; ++k)
        EXPECT_EQ(title[k], 0x7F) << k; // nothing past the 38 bytes
    EXPECT_NE(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
    EXPECT_EQ(h.Stop(), 0);
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
}

TEST_F(Lifecycle, NullTitleStartsNormally)
{
    EXPECT_EQ(h.Start(nullptr), 0);
    EXPECT_EQ(h.Stop(), 0);
}

TEST_F(Lifecycle, StopBeforeStartChangesNothing)
{
    char junk[4] = {1, 2, 3, 4};
    EXPECT_EQ(h.Stop(junk), 0);
    EXPECT_EQ(std::memcmp(junk, "\1\2\3\4", 4), 0);
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
    EXPECT_TRUE(h.trace.empty());
}

TEST_F(Lifecycle, SecondStartHooksOnce)
{
    EXPECT_EQ(h.Start(nullptr), 0);
    TableHandler hooked = h.salesDoc.handler;
    EXPECT_EQ(h.Start(nullptr), 0);
    EXPECT_EQ(h.salesDoc.handler, hooked);
    EXPECT_EQ(h.Stop(), 0);
    // The saved handler is the host's own, not the plug-in's.
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
}

TEST_F(Lifecycle, StartAfterStopHooksAgain)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(h.Start(nullptr), 0);
        EXPECT_NE(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
        EXPECT_EQ(h.Stop(), 0);
        EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
    }
}

// Recording entries for import slots (tests/call_recorder.S).
extern "C" {
extern char RecordingEntries[];
extern void *RecordedTargets[256];
extern uint32_t RecordedCalls[1024];
extern uint32_t RecordedCount;
}

// Process detach after the stop ends the runtime: its per-thread data slot
// is freed and its heap destroyed, the last of all the kernel calls.
TEST_F(Lifecycle, DetachAfterStopEndsTheRuntime)
{
    ASSERT_EQ(h.Start(nullptr), 0);
    ASSERT_EQ(h.Stop(), 0);
    // Every kernel function the module takes, regular and delay-loaded;
    // under the DOS extender the kernel import entry names its emulation.
    const char *kernel = h.dosExtender() ? "DOSXKERN.dll" : "KERNEL32.dll";
    std::vector<pe::Import> recorded;
    for (const pe::Import &i : pe::ListImports(h.module()))
        if (_stricmp(i.library.c_str(), kernel) == 0 ||
            _stricmp(i.library.c_str(), "ZUNDA.dll") == 0)
            recorded.push_back(i);
    ASSERT_LE(recorded.size(), 256u);
    ASSERT_NE(std::find_if(recorded.begin(), recorded.end(),
                           [](const pe::Import &i) { return i.function == "HeapDestroy"; }),
              recorded.end());
    for (size_t k = 0; k < recorded.size(); ++k) {
        RecordedTargets[k] = *recorded[k].slot;
        *recorded[k].slot = RecordingEntries + 16 * k;
    }
    RecordedCount = 0;
    auto base = reinterpret_cast<uint8_t *>(h.module());
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS32 *>(
        base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    auto entry = reinterpret_cast<BOOL(WINAPI *)(HINSTANCE, DWORD, void *)>(
        base + nt->OptionalHeader.AddressOfEntryPoint);
    EXPECT_TRUE(entry(h.module(), DLL_PROCESS_DETACH, nullptr));
    uint32_t count = RecordedCount;
    for (size_t k = 0; k < recorded.size(); ++k)
        if (*recorded[k].slot == RecordingEntries + 16 * k)
            *recorded[k].slot = RecordedTargets[k];
    std::vector<std::string> names;
    for (uint32_t n = 0; n < count; ++n)
        names.push_back(recorded[RecordedCalls[n]].function);
    EXPECT_NE(std::find(names.begin(), names.end(), "TlsFree"), names.end());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "HeapDestroy");
}

TEST_F(Lifecycle, DetachRestoresEvenAfterAnotherReplacement)
{
    ASSERT_EQ(h.Start(nullptr), 0);
    h.salesDoc.handler = reinterpret_cast<TableHandler>(0x12345678);
    EXPECT_EQ(h.Stop(), 0);
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
}

TEST_F(Lifecycle, RecordLengthIsTheStructureVersion)
{
    struct Case {
        int16_t length;
        int32_t expected;
    };
    const Case cases[] = {{297, -1}, {298, 0}, {299, -1}, {-298, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        h.salesDoc.recordLength = c.length;
        h.messages.clear();
        h.notices.clear();
        EXPECT_EQ(h.Start(nullptr), c.expected);
        if (c.expected == -1) {
            EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
            EXPECT_TRUE(h.notices.empty());
            ASSERT_EQ(h.messages.size(), 1u);
            EXPECT_EQ(h.messages[0].title, "STOP!");
            EXPECT_EQ(h.messages[0].style, 1);
            std::string expected = host::Utf8ToMazovia(
                "Wersje tabeli \x02tabTspr_dok\x01 w programie i we wtyczce\n"
                "nie pasują do siebie (WT:298, ZQ:" + std::to_string(c.length) + ")!\n\n\n"
                "Wtyczka \x02" "Dok. sprzedaży z MM (Ctrl+8 dok.spr.)" "\x01\n"
                "NIE zostanie załadowana!");
            EXPECT_EQ(h.messages[0].text, expected);
        } else {
            EXPECT_NE(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
            EXPECT_TRUE(h.messages.empty());
        }
        EXPECT_EQ(h.Stop(), 0);
        EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
    }
}

TEST_F(Lifecycle, OnlyTheSixteenBitLengthCounts)
{
    // The bytes before the 16-bit length are set; the record pointer after it
    // is the host's and stays as it is.
    for (uint8_t &b : h.salesDoc.reserved0)
        b = 0xFF;
    uint8_t *record = h.salesDoc.record;
    EXPECT_EQ(h.Start(nullptr), 0);
    EXPECT_EQ(h.salesDoc.record, record);
    EXPECT_EQ(h.Stop(), 0);
}

TEST_F(Lifecycle, NoDescriptorRefusesStart)
{
    h.salesDocAvailable = false;
    EXPECT_EQ(h.Start(nullptr), -1);
    EXPECT_TRUE(h.messages.empty());
    EXPECT_TRUE(h.notices.empty());
    EXPECT_EQ(h.salesDoc.handler, &host::StandInHost::OwnSalesDocHandler);
}

TEST_F(Lifecycle, InstallNoticeFollowsPytaj)
{
    struct Case {
        const char *name;
        const char *stored; // null: absent
        bool unreadable;
        bool shown;
        int16_t answer; // what the notice leaves
        const char *written;
    };
    const Case cases[] = {
        {"absent", nullptr, false, true, 0, "0"},
        {"zero", "0", false, true, 0, "0"},
        {"nonzero", "1", false, false, 0, "1"},
        {"unreadable", "5", true, true, 0, "0"},
        {"answer kept, sign-extended", nullptr, false, true, -2, "-2"},
        {"only the low 16 bits count", "65536", false, true, 0, "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        h.profile.clear();
        h.notices.clear();
        h.trace.clear();
        if (c.stored)
            h.profile["Tolmar/Pytaj"] = c.stored;
        h.profileUnreadable = c.unreadable;
        h.noticeScript = [&](int16_t *answer) { *answer = c.answer; };
        EXPECT_EQ(h.Start(nullptr), 0);
        std::vector<std::string> profileCalls;
        for (const std::string &line : h.trace)
            if (line.rfind("HostProfile(", 0) == 0)
                profileCalls.push_back(line);
        const std::string read = "HostProfile(1, \"Tolmar\", \"Pytaj\", \"%d\")";
        if (c.shown) {
            // The notice 1194, its answer starting at 0, and 0.
            EXPECT_EQ(std::count(h.trace.begin(), h.trace.end(), "HostNoticeBox(1194, 0, 0)"), 1);
            EXPECT_EQ(profileCalls,
                      (std::vector<std::string>{read, "HostProfile(2, \"Tolmar\", \"Pytaj\", "
                                                      "\"%d\", " + std::string(c.written) + ")"}));
            ASSERT_EQ(h.notices.size(), 1u);
            EXPECT_EQ(h.notices[0], std::string("Zainstalowano: ") + kTitle);
            EXPECT_EQ(h.profile["Tolmar/Pytaj"], c.written);
            EXPECT_EQ(h.trace.back(), std::string("HostProfile(2, \"Tolmar\", \"Pytaj\", \"%d\", ") +
                                          c.written + ")");
        } else {
            EXPECT_TRUE(h.notices.empty());
            EXPECT_EQ(profileCalls, std::vector<std::string>{read});
            EXPECT_EQ(h.trace.back(), read);
        }
        EXPECT_EQ(h.Stop(), 0);
    }
}

TEST_F(Lifecycle, EventsPassThroughUnchanged)
{
    ASSERT_EQ(h.Start(nullptr), 0);
    int32_t rowCount = 3;
    uint8_t *rows[1] = {};
    const host::HandlerCall cases[] = {
        {1, 0, &rowCount, rows, 5, &h.salesDoc, 7, 8, 9, 10, 11},
        {233, -1, nullptr, nullptr, 0xFFFFFFFFu, &h.salesDoc, 0x80000000u, 0, 1, -32768, 0xDEADBEEFu},
        {-5, 0x7FFF, &rowCount, rows, 0, nullptr, 0, 0, 0, 0x7FFF, 0},
    };
    for (const host::HandlerCall &c : cases) {
        h.handlerCalls.clear();
        h.handlerResult = c.event * 3 - 1;
        int32_t result = h.RaiseEvent(c.event, c.editorValue, c.rowCount, c.rows, c.arg5,
                                      c.table, c.arg7, c.arg8, c.arg9, c.arg10, c.arg11);
        EXPECT_EQ(result, c.event * 3 - 1);
        ASSERT_EQ(h.handlerCalls.size(), 1u);
        EXPECT_TRUE(h.handlerCalls[0] == c) << "event " << c.event;
    }
    EXPECT_EQ(rowCount, 3);
    EXPECT_EQ(h.Stop(), 0);
}

} // namespace
