// The host's records that the MM-to-sales command reads and writes, and the
// plug-in's own records of the command. Texts are zero-terminated Mazovia.
//
// A host record's text field may run to the next field without a terminator;
// the room each one has is the distance to the next field the plug-in knows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "plugin/host_records.h"

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
    int32_t docKey;             // non-zero for a document that may be listed
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
    int16_t position;       // the item's position in MmSelection
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

// The data area of the date dialog: the host stores the first edit field's
// text at offset 0 and the second's at offset 9.
struct MmDateRangeFields {
    char dateFrom[9]; // "Okres Od"
    char dateTo[9];   // "Okres Do"
};
static_assert(offsetof(MmDateRangeFields, dateFrom) == 0);
static_assert(offsetof(MmDateRangeFields, dateTo) == 9);
static_assert(sizeof(MmDateRangeFields) == 18);

// One row of the MM document list.
struct MmDocEntry {
    char number[17];
    char description[121];
    double value;      // gross purchase value in currency units
    char dateText[13]; // issue date as the host formats it; the sort key
    int32_t docKey;
    int32_t marked;    // 0 or 1
};

// One item taken from a marked MM document.
struct MmItem {
    char longText[121];
    char shortText[17];
    int32_t intValue;
    char smallText[6];
    double price;      // in currency units
    int16_t shortValue;
    int16_t presence;  // never 0
    int16_t warehouseNo;
};

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
