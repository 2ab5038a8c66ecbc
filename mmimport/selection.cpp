#include "mmimport/selection.h"

#include "mmimport/form_table.h"
#include "mmimport/items.h"
#include "mmimport/texts.h"
#include "plugin/host_services.h"
#include "plugin/runtime/format.h"

MmDateRangeFields MmDateRange;
MmDocListStorage MmDocList;
char RowTextBuffer[512];

namespace {

constexpr int32_t kScanMode = 255;
constexpr int16_t kWaitStyle = 0x200; // stays on screen until HostCloseMessage

// The host's formatted date may be longer than an entry holds: it is taken
// into room of this size first and then cut to the entry's field.
constexpr int kDateScratch = 256;

bool growMmDocList()
{
    int32_t capacity = MmDocList.capacity + MmDocGrowth;
    void *grown = HostRealloc(MmDocList.entries, static_cast<uint32_t>(capacity) * sizeof(MmDocEntry));
    if (!grown)
        return false;
    MmDocList.entries = static_cast<MmDocEntry *>(grown);
    MmDocList.capacity = capacity;
    return true;
}

void fillEntry(MmDocEntry &entry, const MmHeaderRecord &record)
{
    CopyText(entry.number, sizeof entry.number, record.number, sizeof record.number);
    CopyText(entry.description, sizeof entry.description, record.description,
             sizeof record.description);
    char date[kDateScratch];
    __builtin_memset(date, 0, sizeof date);
    HostFormatDate(date, record.issueDate);
    CopyText(entry.dateText, sizeof entry.dateText, date, sizeof date);
    entry.value = record.grossPurchaseValue * 0.0001;
    entry.docKey = record.docKey;
    entry.marked = 0;
}

void swapEntries(MmDocEntry *a, MmDocEntry *b)
{
    MmDocEntry t = *a;
    *a = *b;
    *b = t;
}

// The list is sorted in place, with no storage besides its own: quick sort
// down to short runs, finished by insertion, and heap sort for a range whose
// partitions keep coming out lopsided. No index leaves the range it sorts,
// whatever the host's comparison answers, and the depth limit ends the
// partitioning even when those answers contradict each other.
constexpr int32_t kShortRun = 16;

void siftDown(MmDocEntry *e, int32_t root, int32_t count)
{
    for (;;) {
        int32_t child = 2 * root + 1;
        if (child >= count)
            return;
        if (child + 1 < count && CompareMmDocEntries(&e[child], &e[child + 1]) < 0)
            ++child;
        if (CompareMmDocEntries(&e[root], &e[child]) >= 0)
            return;
        swapEntries(&e[root], &e[child]);
        root = child;
    }
}

void heapSort(MmDocEntry *e, int32_t count)
{
    for (int32_t root = count / 2 - 1; root >= 0; --root)
        siftDown(e, root, count);
    for (int32_t end = count - 1; end > 0; --end) {
        swapEntries(&e[0], &e[end]);
        siftDown(e, 0, end);
    }
}

void insertionSort(MmDocEntry *e, int32_t lo, int32_t hi)
{
    for (int32_t i = lo + 1; i < hi; ++i) {
        if (CompareMmDocEntries(&e[i - 1], &e[i]) <= 0)
            continue;
        MmDocEntry moving = e[i];
        int32_t j = i;
        do {
            e[j] = e[j - 1];
            --j;
        } while (j > lo && CompareMmDocEntries(&e[j - 1], &moving) > 0);
        e[j] = moving;
    }
}

// Entries lo ... hi-1, more than kShortRun of them: the median of the first,
// middle and last becomes the pivot, and the first and last then stop the
// scans. Returns the split: lo ... split-1 come no later than the pivot,
// split ... hi-1 no earlier, and both parts hold at least one entry.
int32_t partition(MmDocEntry *e, int32_t lo, int32_t hi)
{
    int32_t last = hi - 1;
    int32_t mid = lo + (last - lo) / 2;
    if (CompareMmDocEntries(&e[mid], &e[lo]) < 0)
        swapEntries(&e[mid], &e[lo]);
    if (CompareMmDocEntries(&e[last], &e[mid]) < 0) {
        swapEntries(&e[last], &e[mid]);
        if (CompareMmDocEntries(&e[mid], &e[lo]) < 0)
            swapEntries(&e[mid], &e[lo]);
    }
    MmDocEntry pivot = e[mid];
    int32_t i = lo;
    int32_t j = last;
    for (;;) {
        do
            ++i;
        while (i < last && CompareMmDocEntries(&e[i], &pivot) < 0);
        do
            --j;
        while (j > lo && CompareMmDocEntries(&e[j], &pivot) > 0);
        if (i >= j)
            return j + 1;
        swapEntries(&e[i], &e[j]);
    }
}

void sortMmDocList()
{
    MmDocEntry *e = MmDocList.entries;
    int32_t depth = 0;
    for (int32_t n = MmDocList.count; n > 1; n >>= 1)
        depth += 2;
    // The larger part of each split waits here while the smaller one is
    // sorted. A waiting part's sibling is at most half of their range, so
    // no more than 32 wait at once.
    struct Range {
        int32_t lo, hi, depth;
    };
    Range pending[64];
    int32_t top = 0;
    pending[top++] = {0, MmDocList.count, depth};
    while (top > 0) {
        Range r = pending[--top];
        while (r.hi - r.lo > kShortRun) {
            if (r.depth-- == 0) {
                heapSort(e + r.lo, r.hi - r.lo);
                break;
            }
            int32_t split = partition(e, r.lo, r.hi);
            Range left{r.lo, split, r.depth}, right{split, r.hi, r.depth};
            bool leftSmaller = split - r.lo < r.hi - split;
            pending[top++] = leftSmaller ? right : left;
            r = leftSmaller ? left : right;
        }
        if (r.hi - r.lo <= kShortRun)
            insertionSort(e, r.lo, r.hi);
    }
}

// The entry the list's row designates, or null for a row outside the list.
MmDocEntry *entryAt(int32_t row)
{
    if (row < 0 || row >= MmDocList.count)
        return nullptr;
    return &MmDocList.entries[row];
}

} // namespace

int32_t WybierzMM()
{
    __builtin_memset(&MmDateRange, 0, sizeof MmDateRange);
    if (HostRunForm(FormTable, DateRangeFormId, &MmDateRange, nullptr) != FormConfirmed)
        return 1;
    MmDocList = {};
    if (!CollectMmDocuments())
        return 0;
    if (MmDocList.count > 0) {
        HostMessageBox(texts::Attention, texts::Wait, kWaitStyle);
        sortMmDocList();
        HostCloseMessage();
    }
    if (HostRunForm(FormTable, MmListFormId, nullptr, OnListKey, ListRowText) == FormConfirmed) {
        MmSelection = {};
        RetrieveMarkedItems();
        return 1;
    }
    ReleaseMmDocList();
    return 1;
}

int32_t CollectMmDocuments()
{
    TableDescriptor *headers = HostGetTable(MmHeaderTableId);
    if (!headers) {
        HostMessageBox(texts::Error, texts::DiskError, 1);
        return 0;
    }
    HostOpenTable(headers, kScanMode);
    const auto *record = reinterpret_cast<const MmHeaderRecord *>(headers->record);
    uint8_t key[84];
    uint8_t scan[192];
    HostMakeKey(MmHeaderIndexId, &headers, key, 0);
    int16_t status = HostScanFirst(scan, headers, MmHeaderIndexId, key, 0, 0);
    while (status != 0) {
        status = static_cast<int16_t>(HostScanNext(scan));
        if (status != 1)
            break;
        if (record->docKey == 0 || record->listable == 0)
            continue;
        if (HostCompareDates(record->issueDate, MmDateRange.dateTo) > 0)
            continue;
        if (HostCompareDates(record->issueDate, MmDateRange.dateFrom) < 0)
            continue;
        if (MmDocList.count == MmDocList.capacity && !growMmDocList()) {
            HostMessageBox(texts::Error, texts::ListGrowError, 1);
            HostScanEnd(scan);
            return 0;
        }
        fillEntry(MmDocList.entries[MmDocList.count], *record);
        ++MmDocList.count;
    }
    HostScanEnd(scan);
    return 1;
}

int32_t CompareMmDocEntries(const MmDocEntry *a, const MmDocEntry *b)
{
    return HostCompareDates(a->dateText, b->dateText);
}

void ReleaseMmDocList()
{
    if (MmDocList.entries)
        HostFree(MmDocList.entries);
    MmDocList = {};
}

extern "C" int16_t __stdcall OnListKey(int16_t key, int16_t)
{
    if (key != InsertKey)
        return 0;
    if (MmDocList.count == 0) {
        HostMessageBox(texts::Attention, texts::NothingToMark, 1);
        return MmListElementId;
    }
    int16_t *current = HostFormValue(MmListElementId);
    MmDocEntry *entry = current ? entryAt(*current) : nullptr;
    if (!entry)
        return MmListElementId; // the host's row is not one of ours: nothing to mark
    entry->marked = entry->marked == 0 ? 1 : 0;
    // Row numbers are 16-bit: past the last row or the last addressable one,
    // the cursor goes back to the first.
    int32_t next = *current + 1;
    if (next >= MmDocList.count || next > 0x7FFF)
        next = 0;
    if (int16_t *cursor = HostFormValue(MmListElementId))
        *cursor = static_cast<int16_t>(next);
    return MmListElementId;
}

extern "C" int32_t __stdcall ListRowText(int16_t row, int32_t)
{
    if (row == -1)
        return MmDocList.count;
    const MmDocEntry *entry = entryAt(row);
    if (!entry) {
        RowTextBuffer[0] = '\0';
        return reinterpret_cast<int32_t>(RowTextBuffer);
    }
    FormatBounded(RowTextBuffer, sizeof RowTextBuffer, "%c\r%s\r%s\r%.2f\r%s",
                  entry->marked ? '*' : ' ', entry->number, entry->description, entry->value,
                  entry->dateText);
    return reinterpret_cast<int32_t>(RowTextBuffer);
}
