// The catalogue of host entries as it lies in the image: its entries and two
// series, every entry's thunk and slot as code and data, and the fallback
// stubs.
#include "check.h"
#include "expected.h"

#include <algorithm>

namespace image {
namespace {

namespace ex = expected;

constexpr std::string_view kEntryPrefix = "_HostEntry_";
constexpr std::string_view kTwinSuffix = "_2";

// One entry by its symbols' suffix: "20000", or "21283_2" for a twin.
struct Entry {
    uint32_t number;
    bool twin;
    std::string suffix() const { return std::to_string(number) + (twin ? "_2" : ""); }
    bool operator<(const Entry &o) const
    {
        return number != o.number ? number < o.number : twin < o.twin;
    }
    bool operator==(const Entry &o) const = default;
};

// The entries whose jump pieces the image's symbols name.
std::vector<Entry> EntriesInImage(const PeFile &pe)
{
    std::vector<Entry> out;
    for (const auto &[name, addresses] : pe.symbols()) {
        std::string_view n = name;
        if (!n.starts_with(kEntryPrefix))
            continue;
        n.remove_prefix(kEntryPrefix.size());
        Entry e{0, n.ends_with(kTwinSuffix)};
        if (e.twin)
            n.remove_suffix(kTwinSuffix.size());
        if (n.empty() || n.size() > 5 ||
            n.find_first_not_of("0123456789") != std::string_view::npos)
            throw ImageError("symbol " + name + " names no entry");
        e.number = static_cast<uint32_t>(std::stoul(std::string(n)));
        out.push_back(e);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Entry> ExpectedEntries()
{
    std::vector<Entry> out;
    for (const ex::Run &r : ex::kRuns)
        for (uint32_t n = r.first; n <= r.last; ++n)
            out.push_back({n, false});
    for (uint32_t n : ex::kTwins)
        out.push_back({n, true});
    for (uint32_t n : ex::kHundredSeries)
        out.push_back({n, false});
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Suffixes(const std::vector<Entry> &entries)
{
    std::vector<std::string> out;
    for (const Entry &e : entries)
        out.push_back(e.suffix());
    return out;
}

std::vector<uint32_t> HundredSeriesInImage(const PeFile &pe)
{
    uint32_t start = pe.Symbol("_HundredSeriesTable"), end = pe.Symbol("_HundredSeriesTableEnd");
    if (end < start || (end - start) % 4 != 0)
        throw ImageError("the hundred series table has " + std::to_string(end - start) + " bytes");
    std::vector<uint32_t> out;
    for (uint32_t at = start; at < end; at += 4)
        out.push_back(pe.U32(at));
    return out;
}

void Entries(const PeFile &pe, Check &c)
{
    std::vector<Entry> entries = EntriesInImage(pe);
    c.Equal(entries.size(), ex::kEntries, "entry thunks");
    c.Equal(Suffixes(entries), Suffixes(ExpectedEntries()), "entries, by number");
    std::vector<std::string> twins;
    for (const Entry &e : entries) {
        if (e.twin)
            twins.push_back(e.suffix());
        c.That(e.number >= ex::kLowestNumber && e.number <= ex::kHighestNumber,
               "entry " + e.suffix() + " outside 20000..52503");
    }
    c.Equal(twins, {"21283_2", "21294_2"}, "numbers with a second entry");
}

void HundredSeries(const PeFile &pe, Check &c)
{
    std::vector<uint32_t> table = HundredSeriesInImage(pe);
    c.Equal(table, std::vector<uint32_t>(ex::kHundredSeries.begin(), ex::kHundredSeries.end()),
            "the hundred series table, in order");
    for (const ex::ArgumentBytes &a : ex::kHundredArgumentBytes)
        c.Equal(std::count_if(table.begin(), table.end(),
                              [&](uint32_t n) { return n % 100 == a.bytes; }),
                a.entries, "hundred-series entries removing " + std::to_string(a.bytes) + " bytes");
    for (uint32_t n : table)
        c.That(pe.HasSymbol("_HostEntry_" + std::to_string(n)),
               "no entry thunk for " + std::to_string(n));
}

// The entries outside the hundred series, laid out as runs of consecutive
// numbers.
void ConsecutiveRuns(const PeFile &pe, Check &c)
{
    std::vector<uint32_t> hundred = HundredSeriesInImage(pe);
    std::vector<uint32_t> numbers;
    unsigned entries = 0;
    for (const Entry &e : EntriesInImage(pe)) {
        if (std::find(hundred.begin(), hundred.end(), e.number) != hundred.end())
            continue;
        ++entries;
        if (!e.twin)
            numbers.push_back(e.number);
    }
    c.Equal(entries, ex::kConsecutiveEntries, "consecutive series entries");
    std::vector<std::string> runs, expected;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        runs.push_back(std::to_string(numbers[i]) + "-" + std::to_string(numbers[j]));
        i = j + 1;
    }
    for (const ex::Run &r : ex::kRuns)
        expected.push_back(std::to_string(r.first) + "-" + std::to_string(r.last));
    c.Equal(runs, expected, "runs of the consecutive series");
}

// The slots: one table in writable data, a slot per entry, 20000's first
// and 51300's last.
void SlotTable(const PeFile &pe, Check &c)
{
    uint32_t start = pe.Symbol("_EntrySlotTable"), end = pe.Symbol("_EntrySlotTableEnd");
    c.Equal(end - start, 4 * ex::kEntries, "slot table bytes");
    c.Writable(pe, start, true, "slot table");
    c.Writable(pe, end - 4, true, "last slot");
    std::vector<uint32_t> slots;
    for (const Entry &e : EntriesInImage(pe)) {
        uint32_t slot = pe.Symbol("EntrySlot_" + e.suffix());
        c.That(slot >= start && slot < end && (slot - start) % 4 == 0,
               "slot of " + e.suffix() + " at " + Hex(slot) + " outside the slot table");
        slots.push_back(slot);
    }
    std::sort(slots.begin(), slots.end());
    c.That(std::adjacent_find(slots.begin(), slots.end()) == slots.end(),
           "two entries share a slot");
    c.Equal(pe.Symbol("EntrySlot_" + std::to_string(ex::kFirstSlotEntry)), start,
            "the first slot is 20000's");
    c.Equal(pe.Symbol("EntrySlot_" + std::to_string(ex::kLastSlotEntry)), end - 4,
            "the last slot is 51300's");
}

// Every entry's code. Jump piece: jmp *slot. First-call piece, right after
// it: push $jump; pusha; push $slot; push $number; call BindEntry; popa;
// ret. At load the slot holds the first-call piece.
void ThunkCode(const PeFile &pe, Check &c)
{
    uint32_t bind = pe.Symbol("_BindEntry@8");
    for (const Entry &e : EntriesInImage(pe)) {
        std::string s = e.suffix();
        uint32_t jump = pe.Symbol("_HostEntry_" + s);
        uint32_t first = pe.Symbol("FirstCall_" + s);
        uint32_t slot = pe.Symbol("EntrySlot_" + s);
        c.Code(pe, jump, Bytes(jump).Op({0xFF, 0x25}).U32(slot).bytes(), "jump piece of " + s);
        c.Equal(first, jump + 6, "first-call piece of " + s + " right after its jump piece");
        c.Code(pe, first,
               Bytes(first)
                   .Op({0x68}).U32(jump)
                   .Op({0x60})
                   .Op({0x68}).U32(slot)
                   .Op({0x68}).U32(e.number)
                   .Op({0xE8}).Rel32(bind)
                   .Op({0x61})
                   .Op({0xC3})
                   .bytes(),
               "first-call piece of " + s);
        c.Equal(pe.U32(slot), first, "slot of " + s + " holds its first-call piece at load");
    }
}

// Stub k: xor %eax,%eax; ret $4k (k = 0: plain ret).
void FallbackStubs(const PeFile &pe, Check &c)
{
    uint32_t table = pe.Symbol("_FallbackStubTable");
    for (unsigned k = 0; k < ex::kFallbackStubs; ++k) {
        uint32_t stub = pe.Symbol("_FallbackStub" + std::to_string(k));
        c.Equal(pe.U32(table + 4 * k), stub, "fallback stub table row " + std::to_string(k));
        Bytes code(stub);
        code.Op({0x31, 0xC0});
        if (k == 0)
            code.Op({0xC3});
        else
            code.Op({0xC2}).U16(static_cast<uint16_t>(4 * k));
        c.Code(pe, stub, code.bytes(),
               "fallback stub " + std::to_string(k) + " returns 0 and removes " +
                   std::to_string(4 * k) + " bytes");
    }
    c.That(!pe.HasSymbol("_FallbackStub" + std::to_string(ex::kFallbackStubs)),
           "a sixteenth fallback stub");
}

// For a service with a floating-point result: 0.0 on the x87 stack too.
void FallbackForDouble(const PeFile &pe, Check &c)
{
    uint32_t stub = pe.Symbol("_FallbackStubReal3");
    c.Code(pe, stub, Bytes(stub).Op({0xD9, 0xEE, 0x31, 0xC0, 0xC2}).U16(12).bytes(),
           "fldz; xor %eax,%eax; ret $12");
}

} // namespace

const std::vector<Case> &CatalogueCases()
{
    static const std::vector<Case> cases = {
        {"catalogue/entries", Entries},
        {"catalogue/hundred-series", HundredSeries},
        {"catalogue/consecutive-runs", ConsecutiveRuns},
        {"catalogue/slot-table", SlotTable},
        {"catalogue/thunk-code", ThunkCode},
        {"catalogue/fallback-stubs", FallbackStubs},
        {"catalogue/fallback-for-double", FallbackForDouble},
    };
    return cases;
}

} // namespace image
