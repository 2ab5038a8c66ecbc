#include "mmimport/items.h"

#include "mmimport/selection.h"
#include "mmimport/texts.h"
#include "plugin/host_services.h"

MmSelectionStorage MmSelection;

namespace {

constexpr int32_t kItemMode = 255;

bool growMmSelection()
{
    int32_t capacity = MmSelection.capacity + MmItemGrowth;
    void *grown = HostRealloc(MmSelection.items, static_cast<uint32_t>(capacity) * sizeof(MmItem));
    if (!grown)
        return false;
    MmSelection.items = static_cast<MmItem *>(grown);
    MmSelection.capacity = capacity;
    return true;
}

void fillItem(MmItem &item, const MmItemRecord &record, const MmHeaderRecord &header,
              const SalesDocHeaderRecord &salesHeader)
{
    CopyText(item.longText, sizeof item.longText, record.longText, sizeof record.longText);
    CopyText(item.shortText, sizeof item.shortText, record.shortText, sizeof record.shortText);
    item.intValue = record.intValue;
    CopyText(item.smallText, sizeof item.smallText, record.smallText, sizeof record.smallText);
    item.shortValue = record.shortValue;
    item.presence = record.presence;
    item.warehouseNo = header.warehouseNo;
    int32_t whole = (salesHeader.priceFlag & 1) != 0 ? record.priceOddFlag : record.priceEvenFlag;
    item.price = HostScaleAmount(static_cast<double>(whole), PriceDivisor);
}

} // namespace

int32_t RetrieveMarkedItems()
{
    for (int32_t i = 0; i < MmDocList.count; ++i)
        if (MmDocList.entries[i].marked != 0)
            PobierzPozDokumentu(MmDocList.entries[i].docKey);
    return 1;
}

int32_t PobierzPozDokumentu(int32_t docKey)
{
    TableDescriptor *headers = HostGetTable(MmHeaderTableId);
    TableDescriptor *items = HostGetTable(MmItemTableId);
    TableDescriptor *salesHeaders = HostGetTable(SalesDocHeaderTableId);
    if (!headers || !items || !salesHeaders) {
        HostMessageBox(texts::Error, texts::ItemTablesError, 1);
        return 0;
    }
    HostOpenTable(salesHeaders, HeaderTableMode);
    HostOpenTable(headers, HeaderTableMode);
    HostOpenTable(items, kItemMode);
    const auto *salesHeader = reinterpret_cast<const SalesDocHeaderRecord *>(salesHeaders->record);
    const auto *header = reinterpret_cast<const MmHeaderRecord *>(headers->record);
    const auto *record = reinterpret_cast<const MmItemRecord *>(items->record);

    uint8_t key[256];
    HostMakeKey(MmItemIndexId, &items, key, docKey);
    int32_t found = 0;
    void *set = HostFindAll(MmItemIndexId, key, items, &found);
    if (!set)
        return 0;
    for (int32_t i = 0; i < found; ++i) {
        if (!HostReadFound(0, i, items, 0, set)) {
            HostMessageBox(texts::Warning, texts::SeekError, 1);
            HostFreeFound(&set);
            return 1;
        }
        if (record->presence == 0)
            continue;
        if (MmSelection.count == MmSelection.capacity && !growMmSelection()) {
            HostMessageBox(texts::Error, texts::ItemGrowError, 1);
            HostFreeFound(&set);
            return 0;
        }
        fillItem(MmSelection.items[MmSelection.count], *record, *header, *salesHeader);
        ++MmSelection.count;
    }
    HostFreeFound(&set);
    return 1;
}

void ReleaseMmSelection()
{
    if (MmSelection.items)
        HostFree(MmSelection.items);
    MmSelection = {};
}
