// The MM-to-sales command, run by the sales-document handler for its event.
#pragma once
#include <cstdint>
#include "hostapi/records.h"

// Runs the command. Returns true when the event is then to be passed on to
// the saved handler; false when the handler must return *result instead.
bool RunMmImportCommand(int16_t editorValue, int32_t *rowCount, uint8_t **rows,
                        TableDescriptor *table, uint32_t arg8, int32_t *result);
