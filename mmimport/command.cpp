#include "mmimport/command.h"

#include "mmimport/items.h"
#include "mmimport/selection.h"
#include "mmimport/texts.h"
#include "plugin/host_services.h"
#include "plugin/runtime/format.h"

namespace {

constexpr int32_t kRefreshFlags = 0x4100;

bool isFree(const SalesDocRow &row) { return row.rowState == 0 && row.presence == 0; }

// The first free row of the document, or -1. A document the host gave no
// row array, and a row without storage, have no free row to offer.
int32_t firstFreeRow(uint8_t **rows, int32_t count)
{
    if (!rows)
        return -1;
    for (int32_t j = 0; j < count; ++j)
        if (rows[j] && isFree(*reinterpret_cast<const SalesDocRow *>(rows[j])))
            return j;
    return -1;
}

int32_t rowsNow(const int32_t *rowCount) { return rowCount ? *rowCount : 0; }

// Writes the item's fields into the row; every other byte keeps its value.
void fillRow(SalesDocRow &row, const MmItem &item, int32_t position)
{
    CopyText(row.longText, sizeof row.longText, item.longText, sizeof item.longText);
    CopyText(row.shortText, sizeof row.shortText, item.shortText, sizeof item.shortText);
    row.intValue = item.intValue;
    CopyText(row.smallText, sizeof row.smallText, item.smallText, sizeof item.smallText);
    row.shortValue = item.shortValue;
    FormatBounded(row.warehouseText, sizeof row.warehouseText, "M%d", item.warehouseNo);
    row.price = item.price;
    row.warehouseNo = item.warehouseNo;
    row.presence = item.presence;
    row.position = static_cast<int16_t>(position);
}

} // namespace

bool RunMmImportCommand(int16_t editorValue, int32_t *rowCount, uint8_t **rows,
                        TableDescriptor *table, uint32_t arg8, int32_t *result)
{
    WybierzMM();
    TableDescriptor *salesHeaders = HostGetTable(SalesDocHeaderTableId);
    if (!salesHeaders) {
        HostMessageBox(texts::Error, texts::ItemTablesError, 1);
        // The event ends here, but the lists' storage still goes back.
        ReleaseMmDocList();
        ReleaseMmSelection();
        *result = 0;
        return false;
    }
    HostOpenTable(salesHeaders, HeaderTableMode);
    uint8_t *header = salesHeaders->record;
    uint8_t *working = table->record;
    auto &workingRow = *reinterpret_cast<SalesDocRow *>(working);

    // A 32-bit counter: a selection may hold more than 32,767 items.
    for (int32_t i = 0; i < MmSelection.count; ++i) {
        fillRow(workingRow, MmSelection.items[i], i);
        HostPrepareRow(0, working, header, 1);
        int32_t j = firstFreeRow(rows, rowsNow(rowCount));
        if (j < 0) {
            HostMessageBox(texts::Blocked, texts::NoRoom, 1);
            break;
        }
        table->cursorRow = j - table->firstRowShown;
        // The record length, checked to be the row's size at attach.
        __builtin_memcpy(rows[table->firstRowShown + table->cursorRow], working,
                         sizeof(SalesDocRow));
    }
    HostRowsDone(rows, rowsNow(rowCount), header, 0, 0);
    HostEditorRefresh(editorValue, table, rows, rowCount, arg8, kRefreshFlags, 0, 1, 0, 0, 0, 0);
    ReleaseMmDocList();
    ReleaseMmSelection();
    return true;
}
