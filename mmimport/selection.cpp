#include "mmimport/selection.h"

#include "mmimport/form_table.h"
#include "mmimport/items.h"
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

// Heap sort, in place: no storage besides the list's own.
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

void sortMmDocList()
{
    MmDocEntry *e = MmDocList.entries;
    int32_t count = MmDocList.count;
    for (int32_t root = count / 2 - 1; root >= 0; --root)
        siftDown(e, root, count);
    for (int32_t end = count - 1; end > 0; --end) {
        swapEntries(&e[0], &e[end]);
        siftDown(e, 0, end);
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
        HostMessageBox("Uwaga", "Prosz\x91 czeka\x8D!", kWaitStyle);
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
        HostMessageBox("B\x92\x86" "d", "B\x92\x86" "d operacji dyskowej!", 1);
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
            HostMessageBox("B\x92\x86" "d",
                           "B\x92\x86" "d podczas alokowania pami\x91" "ci w WybierzMM!\n"
                           "Operacja niekompletna!",
                           1);
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
        HostMessageBox("Uwaga", "Brak dokument\xA2w do zaznaczenia!", 1);
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
