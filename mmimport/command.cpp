#include "mmimport/command.h"

bool RunMmImportCommand(int16_t, int32_t *, uint8_t **, TableDescriptor *, uint32_t, int32_t *)
{
    return true;
}
