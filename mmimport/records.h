// The plug-in's own records of the MM-to-sales command; the host's records
// it reads and writes are in hostapi/records.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hostapi/records.h"

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
