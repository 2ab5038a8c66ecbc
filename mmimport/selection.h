// Choosing MM documents: the date dialog, the sorted list of the documents
// issued between the two dates, and marking them with Insert.
#pragma once
#include <cstdint>

#include "mmimport/records.h"

constexpr int32_t MmHeaderTableId = 58;
constexpr int32_t MmHeaderIndexId = 124;
constexpr int32_t MmDocGrowth = 30;

struct MmDocListStorage {
    MmDocEntry *entries; // from the host's heap; null when empty
    int32_t count;
    int32_t capacity;    // a multiple of MmDocGrowth
};

extern MmDateRangeFields MmDateRange;
extern MmDocListStorage MmDocList;
extern char RowTextBuffer[512];

int32_t WybierzMM();
int32_t CollectMmDocuments();
int32_t CompareMmDocEntries(const MmDocEntry *a, const MmDocEntry *b);
// Hands MmDocList's storage back to the host's heap and empties the list.
void ReleaseMmDocList();

// The list's callbacks, run by the host inside HostRunForm.
extern "C" int16_t __stdcall OnListKey(int16_t key, int16_t unused);
extern "C" int32_t __stdcall ListRowText(int16_t row, int32_t unused);
