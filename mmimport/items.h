// Reading the items of the marked MM documents into MmSelection.
#pragma once
#include <cstdint>

#include "mmimport/records.h"

constexpr int32_t MmItemTableId = 67;
constexpr int32_t SalesDocHeaderTableId = 44;
constexpr int32_t MmItemIndexId = 125;
constexpr int32_t MmItemGrowth = 500;
constexpr int32_t HeaderTableMode = 106; // tables 44 and 58 while items are read
constexpr int32_t PriceDivisor = 100;

struct MmSelectionStorage {
    MmItem *items; // from the host's heap; null when empty
    int32_t count;
    int32_t capacity;
};

extern MmSelectionStorage MmSelection;

int32_t RetrieveMarkedItems();
int32_t PobierzPozDokumentu(int32_t docKey);
// Hands MmSelection's storage back to the host's heap and empties it.
void ReleaseMmSelection();
