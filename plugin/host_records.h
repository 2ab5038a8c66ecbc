// Layouts of the host's structures that the plug-in reads or writes.
// Every offset the host relies on is stated here once and checked.
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
