// Layouts of the host's structures that the plug-in reads or writes: the
// table descriptor, and the records of the tables the MM-to-sales command
// reads and writes. Every offset the host relies on is stated here once and
// checked. Texts are zero-terminated Mazovia.
//
// A host record's text field may run to the next field without a terminator;
// the room each one has is the distance to the next field the plug-in knows.
#pragma once
#include <cstddef>
#include <cstdint>

#if !defined(__i386__)
#error "The host's structures are laid out for 32-bit x86"
#endif

struct TableDescriptor;

// The host's per-table event function: eleven arguments, callee cleans.
using TableHandler = int32_t(__stdcall *)(int32_t event, int16_t editorValue, int32_t *rowCount,
                                          uint8_t **rows, uint32_t arg5, TableDescriptor *table,
                                          uint32_t arg7, uint32_t arg8, uint32_t arg9,
                                          int16_t arg10, uint32_t arg11);

// A table descriptor as HostGetTable hands it out. The host owns it; the
// plug-in writes only `handler`, and rows' cursor through `cursorRow`.
struct TableDescriptor {
    uint8_t reserved0[6];
    int16_t recordLength;  // the table's structure version
    uint8_t *record;       // current-record buffer (the third 32-bit word)
    uint8_t reserved12[72];
    int32_t firstRowShown; // index of the first row in the editor's window
    int32_t cursorRow;     // cursor row, counted from the first row shown
    uint8_t reserved92[12];
    TableHandler handler;
};
static_assert(offsetof(TableDescriptor, recordLength) == 6);
static_assert(offsetof(TableDescriptor, record) == 8);
static_assert(offsetof(TableDescriptor, firstRowShown) == 84);
static_assert(offsetof(TableDescriptor, cursorRow) == 88);
static_assert(offsetof(TableDescriptor, handler) == 104);
static_assert(sizeof(TableDescriptor) == 108);

#pragma pack(push, 1)

// A record of the MM header table (host table 58), one per MM document.
struct MmHeaderRecord {
    uint8_t reserved0[2];
    char number[51];            // document number
    char issueDate[9];          // 8 characters and a zero
    char description[223];
    double grossPurchaseValue;  // in ten-thousandths of the currency unit
    uint8_t reserved293[161];
    int16_t warehouseNo;
    uint8_t reserved456[4];
    int32_t listable;           // non-zero for a document that may be listed
    int32_t docKey;             // the document's key; non-zero for it to be listed
};
static_assert(offsetof(MmHeaderRecord, number) == 2);
static_assert(offsetof(MmHeaderRecord, issueDate) == 53);
static_assert(offsetof(MmHeaderRecord, description) == 62);
static_assert(offsetof(MmHeaderRecord, grossPurchaseValue) == 285);
static_assert(offsetof(MmHeaderRecord, warehouseNo) == 454);
static_assert(offsetof(MmHeaderRecord, listable) == 460);
static_assert(offsetof(MmHeaderRecord, docKey) == 464);
static_assert(sizeof(MmHeaderRecord) == 468);

// A record of the MM item table (host table 67), one per item of a document.
struct MmItemRecord {
    uint8_t reserved0[2];
    char longText[121];
    char shortText[17];
    int32_t intValue;
    char smallText[28];
    int32_t priceOddFlag;  // price in hundredths, taken when the flag is odd
    int32_t priceEvenFlag; // price in hundredths, taken when the flag is even
    int16_t shortValue;
    uint8_t reserved182[164];
    int16_t presence;      // 0: the item is not taken
};
static_assert(offsetof(MmItemRecord, longText) == 2);
static_assert(offsetof(MmItemRecord, shortText) == 123);
static_assert(offsetof(MmItemRecord, intValue) == 140);
static_assert(offsetof(MmItemRecord, smallText) == 144);
static_assert(offsetof(MmItemRecord, priceOddFlag) == 172);
static_assert(offsetof(MmItemRecord, priceEvenFlag) == 176);
static_assert(offsetof(MmItemRecord, shortValue) == 180);
static_assert(offsetof(MmItemRecord, presence) == 346);
static_assert(sizeof(MmItemRecord) == 348);

// The header record of the open sales document (host table 44).
struct SalesDocHeaderRecord {
    uint8_t reserved0[219];
    int16_t priceFlag; // only odd or even counts
};
static_assert(offsetof(SalesDocHeaderRecord, priceFlag) == 219);
static_assert(sizeof(SalesDocHeaderRecord) == 221);

// A row of the sales document (host table 45). The plug-in writes only the
// fields named here; a row is free while `rowState` and `presence` are 0.
struct SalesDocRow {
    uint8_t reserved0[2];
    char longText[121];
    char shortText[17];
    int32_t intValue;
    char smallText[22];
    int16_t shortValue;
    uint8_t reserved168[20];
    char warehouseText[12]; // "M" and the warehouse number
    int16_t rowState;       // never written by the plug-in
    double price;
    uint8_t reserved210[82];
    int16_t warehouseNo;
    int16_t presence;
    int16_t position;       // the plug-in writes its item's position in its list, from 0
};
static_assert(offsetof(SalesDocRow, longText) == 2);
static_assert(offsetof(SalesDocRow, shortText) == 123);
static_assert(offsetof(SalesDocRow, intValue) == 140);
static_assert(offsetof(SalesDocRow, smallText) == 144);
static_assert(offsetof(SalesDocRow, shortValue) == 166);
static_assert(offsetof(SalesDocRow, warehouseText) == 188);
static_assert(offsetof(SalesDocRow, rowState) == 200);
static_assert(offsetof(SalesDocRow, price) == 202);
static_assert(offsetof(SalesDocRow, warehouseNo) == 292);
static_assert(offsetof(SalesDocRow, presence) == 294);
static_assert(offsetof(SalesDocRow, position) == 296);
static_assert(sizeof(SalesDocRow) == 298);

#pragma pack(pop)

// Copies the text at src, which has room for srcRoom bytes and may lack a
// terminator, into dst of dstSize bytes: at most dstSize - 1 characters and
// a terminating zero. Bytes of dst after the terminator keep their values.
inline void CopyText(char *dst, size_t dstSize, const char *src, size_t srcRoom)
{
    size_t n = 0;
    while (n + 1 < dstSize && n < srcRoom && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
}
