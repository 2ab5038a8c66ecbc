// Binding of the host's numbered entries: what the entry thunks of
// binding/entry_thunks.S call, and the fallbacks for missing entries.
#pragma once
#include <cstdint>

extern "C" {

// Asks HostQuery for the entry and writes the slot; on a missing entry,
// reports it and leaves a fallback stub or null in the slot.
void __stdcall BindEntry(uint32_t number, void **slot);

// Shows the missing-entry message until the user answers something other
// than Retry. Nonzero when the answer was Ignore.
int32_t ReportMissingEntry(uint32_t number);

// Writes the slot of a missing, ignored entry: a fallback stub that removes
// as many argument bytes as the caller passed, or null when that is unknown.
void PickFallback(uint32_t number, void **slot);

// Stub k returns 0 and removes 4 x k bytes of arguments.
constexpr int kFallbackStubCount = 15;
extern void *const FallbackStubTable[kFallbackStubCount];
// Returns 0.0 on the x87 stack as well, and removes 12 bytes.
void FallbackStubReal3() __asm__("_FallbackStubReal3");

// The catalogue's slot table and the numbers of the hundred series.
extern void *EntrySlotTable[] __asm__("_EntrySlotTable");
extern void *EntrySlotTableEnd[] __asm__("_EntrySlotTableEnd");
extern const uint32_t HundredSeriesTable[] __asm__("_HundredSeriesTable");
extern const uint32_t HundredSeriesTableEnd[] __asm__("_HundredSeriesTableEnd");

} // extern "C"

// Sizes of the missing-entry message.
struct MissingEntryText {
    static constexpr int kBufferSize = 512;  // 511 characters and the zero
    static constexpr int kPathLimit = 300;   // GetModuleFileNameA's limit
    static constexpr int kFormatLength = 188;
    static constexpr int kFixedLength = 182; // the format without its three %s
};
