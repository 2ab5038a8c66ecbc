// Attachment to the host's sales-document table.
#pragma once
#include <cstdint>
#include "hostapi/records.h"

constexpr int32_t SalesDocTableId = 45;
constexpr int16_t SalesDocTableVersion = 298;
constexpr int32_t MmImportEvent = 234;

extern TableDescriptor *HookedTable;
extern TableHandler SavedTableHandler;

int32_t AttachToHost();
int32_t DetachFromHost();
int32_t InstallNotice();
int32_t TableVersionError(const char *tableName, int32_t expected, int32_t found);

extern "C" int32_t __stdcall SalesDocHandler(int32_t event, int16_t editorValue, int32_t *rowCount,
                                             uint8_t **rows, uint32_t arg5, TableDescriptor *table,
                                             uint32_t arg7, uint32_t arg8, uint32_t arg9,
                                             int16_t arg10, uint32_t arg11);
