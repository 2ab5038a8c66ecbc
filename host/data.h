// The stand-in host's data: the tables the MM-to-sales command reads (44, 58,
// 67) and the rows of table 45, the heap behind HostRealloc/HostFree, index
// scans and found sets, dates, amounts and the row services. Faults can be
// injected per test. See host/DATA.md for the date forms and the choices.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hostapi/records.h"

namespace host {

// An MM document as a test describes it (table 58).
struct MmHeaderSpec {
    int32_t key = 0;
    std::string date{};  // as stored: "YYYYMMDD"
    std::string number{};
    std::string description{};
    double value = 0;  // ten-thousandths of the currency unit
    int16_t warehouse = 0;
    int32_t listable = 1;
};

// An item of an MM document (table 67).
struct MmItemSpec {
    int32_t docKey = 0;
    std::string longText{};
    std::string shortText{};
    int32_t intValue = 0;
    std::string smallText{};
    int32_t priceOdd = 0;  // hundredths, for an odd price flag
    int32_t priceEven = 0; // hundredths, for an even price flag
    int16_t shortValue = 0;
    int16_t presence = 1;
};

// Texts longer than their field fill it without a terminator.
std::vector<uint8_t> MmHeaderBytes(const MmHeaderSpec &fields);
std::vector<uint8_t> MmItemBytes(const MmItemSpec &fields);

struct ItemRecord {
    int32_t docKey;
    std::vector<uint8_t> bytes;
};

struct HostData {
    HostData();
    HostData(const HostData &) = delete;
    HostData &operator=(const HostData &) = delete;
    ~HostData();

    // Descriptors that HostGetTable hands out; each one's third word points
    // at the table's record buffer below.
    TableDescriptor salesHeaders{}; // 44
    TableDescriptor mmHeaders{};    // 58
    TableDescriptor mmItems{};      // 67
    std::vector<uint8_t> salesHeaderRecord, mmHeaderRecord, mmItemRecord;
    std::set<int32_t> unavailable; // table ids for which HostGetTable gives null

    TableDescriptor *Table(int32_t id); // null when unknown or unavailable
    SalesDocHeaderRecord &SalesHeader();

    // Table 58 in the order of index 124; table 67 in the order of index 125.
    std::vector<std::vector<uint8_t>> headerRecords;
    std::vector<ItemRecord> itemRecords;
    void AddHeader(const MmHeaderSpec &fields) { headerRecords.push_back(MmHeaderBytes(fields)); }
    void AddItem(const MmItemSpec &fields) { itemRecords.push_back({fields.docKey, MmItemBytes(fields)}); }

    // Rows of the open sales document (table 45): the array of row pointers
    // and the row count that the handler's arguments 4 and 3 point at.
    std::vector<std::vector<uint8_t>> rowStore;
    std::vector<uint8_t *> rows;
    int32_t rowCount = 0;
    void SetRows(int32_t count); // that many free rows, all bytes 0
    SalesDocRow &Row(int32_t i) { return *reinterpret_cast<SalesDocRow *>(rowStore.at(i).data()); }

    // Heap: every live block with its size; calls are numbered from 1.
    std::map<const void *, size_t> liveBlocks;
    std::map<const void *, int> blockNames;
    int nextBlockName = 1;
    int reallocCalls = 0;
    std::set<int> failingReallocs;      // call numbers that fail
    // How blocks grow. Moving (the tests): every grown block moves and the
    // old one is spoiled, so that a stale pointer shows. ProcessHeap: the C
    // library's realloc on the process's heap, which moves a large block
    // when it cannot grow it where it lies. InPlace: a block keeps address space
    // to grow into, as a heap that remaps its large blocks does; it moves
    // only when that runs out. The last two are for timing. Set the mode
    // before the first block is made.
    enum class HeapMode { Moving, ProcessHeap, InPlace };
    HeapMode heapMode = HeapMode::Moving;
    std::vector<size_t> reallocSizes;   // requested sizes, in order
    int reallocMovedBlocks = 0;         // grown blocks that had to move
    uint64_t reallocCopiedBytes = 0;    // bytes copied by those moves
    std::vector<std::string> heapErrors; // frees or reallocs of unknown blocks

    // Scans (state kept in the caller's area) and found sets.
    std::set<const void *> liveScans;
    std::set<const void *> liveFoundSets;
    std::set<std::pair<int32_t, int32_t>> failingReads; // (document key, position)
    bool findAllFindsNothing = false;

    // HostFormatDate writes this instead when it is not empty.
    std::string dateTextOverride;

    // The working record as each HostPrepareRow call saw it.
    std::vector<std::vector<uint8_t>> preparedRows;

    // Calls too frequent for the trace.
    int compareCalls = 0;
    int scanNextCalls = 0;

    // What is still held: live blocks, scans, found sets, heap errors;
    // empty when everything went back.
    std::string Held() const;
};

// The table that a descriptor or record pointer belongs to, for the trace:
// "44", "45", "58", "67", "working", "record44", "rows", "rowCount", or hex.
std::string PointerName(const void *p);

} // namespace host
