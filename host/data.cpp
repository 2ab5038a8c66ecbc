// The stand-in host's data services: tables 44, 58 and 67, the rows of table
// 45, the heap, index scans and found sets, dates, amounts and row services.
#include "host/data.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/dates.h"
#include "host/service_table.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

constexpr size_t kSalesHeaderSize = 256;
constexpr size_t kMmHeaderSize = 512;
constexpr size_t kMmItemSize = 384;
constexpr size_t kSalesRowSize = sizeof(SalesDocRow);

StandInHost &H() { return StandInHost::Current(); }
HostData &D() { return H().data; }

void PutText(char *field, size_t room, const std::string &text)
{
    size_t n = text.size() < room ? text.size() : room;
    std::memcpy(field, text.data(), n);
    if (n < room)
        field[n] = '\0';
}

// What a scan keeps in the caller's 192-byte area.
struct ScanState {
    uint32_t magic;
    uint32_t next; // index of the next header record
};
constexpr uint32_t kScanMagic = 0x4E414353; // "SCAN"

// The key that HostMakeKey builds in the caller's buffer.
struct MadeKey {
    int32_t index;
    int32_t value;
};

struct FoundSet {
    int32_t docKey;
    std::vector<size_t> records; // indices into itemRecords
};

std::string BlockName(const void *block)
{
    if (!block)
        return "null";
    auto found = D().blockNames.find(block);
    if (found == D().blockNames.end())
        return PointerName(block);
    std::string name = "#";
    return name.append(std::to_string(found->second));
}

std::string Num(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// The heap behind HostRealloc and HostFree, in the modes of
// HostData::HeapMode. In the in-place mode a block is a reservation of
// address space whose first page holds the reservation's size; the block
// follows it, committed as far as it reaches.
constexpr size_t kPage = 4096;
constexpr size_t kReservation = 64u << 20;

size_t RoundToPage(size_t n) { return (n + kPage - 1) / kPage * kPage; }

uint8_t *ReservationBase(void *block) { return static_cast<uint8_t *>(block) - kPage; }
size_t ReservedSize(void *block) { return *reinterpret_cast<size_t *>(ReservationBase(block)); }

bool Commit(uint8_t *base, size_t size)
{
    return VirtualAlloc(base, RoundToPage(kPage + size), MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void *ReserveBlock(size_t size)
{
    size_t reserved = kPage + size <= kReservation ? kReservation : RoundToPage(kPage + 2 * size);
    auto *base = static_cast<uint8_t *>(VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS));
    if (!base)
        return nullptr;
    if (!Commit(base, size)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    *reinterpret_cast<size_t *>(base) = reserved;
    return base + kPage;
}

void ReleaseBlock(const HostData &d, void *block)
{
    if (d.heapMode == HostData::HeapMode::InPlace)
        VirtualFree(ReservationBase(block), 0, MEM_RELEASE);
    else
        std::free(block);
}

// The block grown (or made, for null) to size bytes, or null when there is
// no memory; a block that moves is counted, its contents copied and the old
// block released.
void *GrowBlock(HostData &d, void *block, size_t size)
{
    size_t old = block ? d.liveBlocks[block] : 0;
    size_t kept = old < size ? old : size;
    void *grown = nullptr;
    switch (d.heapMode) {
    case HostData::HeapMode::Moving:
        grown = std::malloc(size ? size : 1);
        if (grown)
            std::memset(grown, 0xCD, size);
        break;
    case HostData::HeapMode::ProcessHeap:
        grown = std::realloc(block, size ? size : 1);
        if (grown && block && grown != block) {
            ++d.reallocMovedBlocks;
            d.reallocCopiedBytes += kept;
        }
        return grown;
    case HostData::HeapMode::InPlace:
        if (block && kPage + size <= ReservedSize(block))
            return Commit(ReservationBase(block), size) ? block : nullptr;
        grown = ReserveBlock(size);
        break;
    }
    if (grown && block) {
        std::memcpy(grown, block, kept);
        ++d.reallocMovedBlocks;
        d.reallocCopiedBytes += kept;
        std::memset(block, 0xDD, old);
        ReleaseBlock(d, block);
    }
    return grown;
}

} // namespace

extern "C" {

void *__cdecl SvcRealloc(void *block, uint32_t size)
{
    HostData &d = D();
    int call = ++d.reallocCalls;
    d.reallocSizes.push_back(size);
    std::string line = "HostRealloc(" + BlockName(block) + ", " + std::to_string(size) + ")";
    if (block && !d.liveBlocks.count(block)) {
        d.heapErrors.push_back("realloc of unknown block " + PointerName(block));
        H().Record(line + " -> null");
        return nullptr;
    }
    void *grown = d.failingReallocs.count(call) ? nullptr : GrowBlock(d, block, size);
    if (!grown) {
        H().Record(line + " -> null");
        return nullptr;
    }
    if (block) {
        d.liveBlocks.erase(block);
        d.blockNames.erase(block);
    }
    d.liveBlocks[grown] = size;
    d.blockNames[grown] = d.nextBlockName++;
    H().Record(line + " -> " + BlockName(grown));
    return grown;
}

void __cdecl SvcFree(void *block)
{
    HostData &d = D();
    H().Record("HostFree(" + BlockName(block) + ")");
    auto found = d.liveBlocks.find(block);
    if (found == d.liveBlocks.end()) {
        d.heapErrors.push_back("free of unknown block " + PointerName(block));
        return;
    }
    std::memset(block, 0xDD, found->second);
    ReleaseBlock(d, block);
    d.liveBlocks.erase(found);
    d.blockNames.erase(block);
}

void __stdcall SvcCloseMessage() { H().Record("HostCloseMessage()"); }

double __stdcall SvcScaleAmount(double amount, int32_t divisor)
{
    H().Record("HostScaleAmount(" + Num(amount) + ", " + std::to_string(divisor) + ")");
    return divisor == 0 ? amount : amount / divisor;
}

int32_t __stdcall SvcOpenTable(TableDescriptor *table, int32_t mode)
{
    H().Record("HostOpenTable(" + PointerName(table) + ", " + std::to_string(mode) + ")");
    return 1;
}

int32_t __stdcall SvcMakeKey(int32_t index, TableDescriptor **table, void *key, int32_t value)
{
    H().Record("HostMakeKey(" + std::to_string(index) + ", " + PointerName(table ? *table : nullptr) +
               ", " + std::to_string(value) + ")");
    MadeKey made{index, value};
    std::memcpy(key, &made, sizeof made);
    return 1;
}

void *__stdcall SvcFindAll(int32_t index, void *key, TableDescriptor *table, int32_t *count)
{
    HostData &d = D();
    MadeKey made;
    std::memcpy(&made, key, sizeof made);
    H().Record("HostFindAll(" + std::to_string(index) + ", " + std::to_string(made.value) + ", " +
               PointerName(table) + ")");
    if (index != 125 || table != &d.mmItems || made.index != 125 || d.findAllFindsNothing)
        return nullptr;
    auto *set = new FoundSet{made.value, {}};
    for (size_t i = 0; i < d.itemRecords.size(); ++i)
        if (d.itemRecords[i].docKey == made.value)
            set->records.push_back(i);
    if (set->records.empty()) {
        delete set;
        return nullptr;
    }
    *count = static_cast<int32_t>(set->records.size());
    d.liveFoundSets.insert(set);
    return set;
}

int32_t __stdcall SvcReadFound(int32_t zero, int32_t position, TableDescriptor *table,
                               int32_t zero2, void *found)
{
    HostData &d = D();
    H().Record("HostReadFound(" + std::to_string(zero) + ", " + std::to_string(position) + ", " +
               PointerName(table) + ", " + std::to_string(zero2) + ")");
    if (!d.liveFoundSets.count(found)) {
        d.heapErrors.push_back("read from an unknown found set");
        return 0;
    }
    auto *set = static_cast<FoundSet *>(found);
    if (position < 0 || static_cast<size_t>(position) >= set->records.size() ||
        d.failingReads.count({set->docKey, position}))
        return 0;
    const std::vector<uint8_t> &item = d.itemRecords[set->records[position]].bytes;
    std::memcpy(table->record, item.data(), item.size());
    // The item's own MM header comes into table 58's buffer with it.
    for (const std::vector<uint8_t> &header : d.headerRecords)
        if (reinterpret_cast<const MmHeaderRecord *>(header.data())->docKey == set->docKey) {
            std::memcpy(d.mmHeaderRecord.data(), header.data(), header.size());
            break;
        }
    return 1;
}

void __stdcall SvcFreeFound(void **found)
{
    HostData &d = D();
    H().Record("HostFreeFound()");
    if (!found || !d.liveFoundSets.count(*found)) {
        d.heapErrors.push_back("free of an unknown found set");
        return;
    }
    d.liveFoundSets.erase(*found);
    delete static_cast<FoundSet *>(*found);
    *found = nullptr;
}

int16_t __stdcall SvcScanFirst(void *cursor, TableDescriptor *table, int32_t index, void *key,
                               int32_t zero, int32_t zero2)
{
    HostData &d = D();
    MadeKey made;
    std::memcpy(&made, key, sizeof made);
    H().Record("HostScanFirst(" + PointerName(table) + ", " + std::to_string(index) + ", " +
               std::to_string(made.value) + ", " + std::to_string(zero) + ", " +
               std::to_string(zero2) + ")");
    if (table != &d.mmHeaders || index != 124)
        return 0;
    ScanState state{kScanMagic, 0};
    std::memcpy(cursor, &state, sizeof state);
    d.liveScans.insert(cursor);
    return 1;
}

int32_t __stdcall SvcScanNext(void *cursor)
{
    HostData &d = D();
    ++d.scanNextCalls;
    ScanState state;
    std::memcpy(&state, cursor, sizeof state);
    if (!d.liveScans.count(cursor) || state.magic != kScanMagic) {
        d.heapErrors.push_back("scan step on an area not started");
        return 0;
    }
    if (state.next >= d.headerRecords.size())
        return 0;
    const std::vector<uint8_t> &header = d.headerRecords[state.next++];
    std::memset(d.mmHeaderRecord.data(), 0, d.mmHeaderRecord.size());
    std::memcpy(d.mmHeaderRecord.data(), header.data(), header.size());
    std::memcpy(cursor, &state, sizeof state);
    return 1;
}

void __stdcall SvcScanEnd(void *cursor)
{
    H().Record("HostScanEnd()");
    D().liveScans.erase(cursor);
    std::memset(cursor, 0, sizeof(ScanState));
}

int32_t __stdcall SvcCompareDates(const char *a, const char *b)
{
    ++D().compareCalls;
    return CompareDateTexts(a, b);
}

char *__stdcall SvcFormatDate(char *dst, const char *stored)
{
    std::string text = D().dateTextOverride.empty() ? DisplayDate(stored) : D().dateTextOverride;
    std::memcpy(dst, text.c_str(), text.size() + 1);
    return dst;
}

int32_t __stdcall SvcPrepareRow(int32_t zero, uint8_t *row, uint8_t *header, int32_t one)
{
    H().Record("HostPrepareRow(" + std::to_string(zero) + ", " + PointerName(row) + ", " +
               PointerName(header) + ", " + std::to_string(one) + ")");
    D().preparedRows.emplace_back(row, row + kSalesRowSize);
    return 1;
}

int32_t __stdcall SvcRowsDone(uint8_t **rows, int32_t rowCount, uint8_t *header, int32_t zero,
                              int32_t zero2)
{
    H().Record("HostRowsDone(" + PointerName(rows) + ", " + std::to_string(rowCount) + ", " +
               PointerName(header) + ", " + std::to_string(zero) + ", " + std::to_string(zero2) +
               ")");
    return 1;
}

int32_t __stdcall SvcEditorRefresh(int32_t editorValue, TableDescriptor *table, uint8_t **rows,
                                   int32_t *rowCount, uint32_t arg8, int32_t flags, int32_t a7,
                                   int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12)
{
    char hexFlags[16];
    std::snprintf(hexFlags, sizeof hexFlags, "0x%X", static_cast<unsigned>(flags));
    H().Record("HostEditorRefresh(" + std::to_string(editorValue) + ", " + PointerName(table) +
               ", " + PointerName(rows) + ", " + PointerName(rowCount) + ", " +
               std::to_string(arg8) + ", " + hexFlags + ", " + std::to_string(a7) + ", " +
               std::to_string(a8) + ", " + std::to_string(a9) + ", " + std::to_string(a10) + ", " +
               std::to_string(a11) + ", " + std::to_string(a12) + ")");
    return 1;
}

} // extern "C"

std::vector<uint8_t> MmHeaderBytes(const MmHeaderSpec &fields)
{
    std::vector<uint8_t> bytes(kMmHeaderSize);
    auto &r = *reinterpret_cast<MmHeaderRecord *>(bytes.data());
    PutText(r.number, sizeof r.number, fields.number);
    PutText(r.issueDate, sizeof r.issueDate, fields.date);
    PutText(r.description, sizeof r.description, fields.description);
    r.grossPurchaseValue = fields.value;
    r.warehouseNo = fields.warehouse;
    r.listable = fields.listable;
    r.docKey = fields.key;
    return bytes;
}

std::vector<uint8_t> MmItemBytes(const MmItemSpec &fields)
{
    std::vector<uint8_t> bytes(kMmItemSize);
    auto &r = *reinterpret_cast<MmItemRecord *>(bytes.data());
    PutText(r.longText, sizeof r.longText, fields.longText);
    PutText(r.shortText, sizeof r.shortText, fields.shortText);
    r.intValue = fields.intValue;
    PutText(r.smallText, sizeof r.smallText, fields.smallText);
    r.priceOddFlag = fields.priceOdd;
    r.priceEvenFlag = fields.priceEven;
    r.shortValue = fields.shortValue;
    r.presence = fields.presence;
    return bytes;
}

HostData::HostData()
    : salesHeaderRecord(kSalesHeaderSize), mmHeaderRecord(kMmHeaderSize), mmItemRecord(kMmItemSize)
{
    salesHeaders.recordLength = static_cast<int16_t>(kSalesHeaderSize);
    salesHeaders.record = salesHeaderRecord.data();
    mmHeaders.recordLength = static_cast<int16_t>(kMmHeaderSize);
    mmHeaders.record = mmHeaderRecord.data();
    mmItems.recordLength = static_cast<int16_t>(kMmItemSize);
    mmItems.record = mmItemRecord.data();
}

HostData::~HostData()
{
    for (const void *set : liveFoundSets)
        delete static_cast<const FoundSet *>(set);
    for (auto &[block, size] : liveBlocks)
        ReleaseBlock(*this, const_cast<void *>(block));
}

TableDescriptor *HostData::Table(int32_t id)
{
    if (unavailable.count(id))
        return nullptr;
    switch (id) {
    case 44: return &salesHeaders;
    case 58: return &mmHeaders;
    case 67: return &mmItems;
    default: return nullptr;
    }
}

SalesDocHeaderRecord &HostData::SalesHeader()
{
    return *reinterpret_cast<SalesDocHeaderRecord *>(salesHeaderRecord.data());
}

void HostData::SetRows(int32_t count)
{
    rowStore.assign(count, std::vector<uint8_t>(kSalesRowSize));
    rows.clear();
    for (auto &row : rowStore)
        rows.push_back(row.data());
    rows.push_back(nullptr); // a valid array also for no rows
    rowCount = count;
}

std::string HostData::Held() const
{
    std::string held;
    for (auto &[block, size] : liveBlocks)
        held += "block of " + std::to_string(size) + " bytes; ";
    if (!liveScans.empty())
        held += std::to_string(liveScans.size()) + " scan(s); ";
    if (!liveFoundSets.empty())
        held += std::to_string(liveFoundSets.size()) + " found set(s); ";
    for (const std::string &e : heapErrors)
        held += e + "; ";
    return held;
}

std::string PointerName(const void *p)
{
    StandInHost &h = H();
    HostData &d = h.data;
    if (!p)
        return "null";
    if (p == &h.salesDoc)
        return "45";
    if (p == &d.salesHeaders)
        return "44";
    if (p == &d.mmHeaders)
        return "58";
    if (p == &d.mmItems)
        return "67";
    if (p == h.salesDoc.record)
        return "working";
    if (p == d.salesHeaderRecord.data())
        return "record44";
    if (!d.rows.empty() && p == d.rows.data())
        return "rows";
    if (p == &d.rowCount)
        return "rowCount";
    char text[16];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

} // namespace host
