// The plug-in's form templates: one constant block in the host's form
// template format (hostapi/forms.h) that the host's form engine reads as it
// is. The plug-in hands the whole block to HostRunForm together with the id
// of the form to run.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hostapi/forms.h"

// Form ids, as the id of each form's form element gives them.
constexpr int32_t ProcessingFormId = 1001;
constexpr int32_t MmListFormId = 1002;
constexpr int32_t DateRangeFormId = 1003;

// The list of MmListForm; HostFormValue's argument.
constexpr int16_t MmListElementId = 0x4001;

constexpr size_t FormTableSize = 646;

// The templates: ProcessingFormId, DateRangeFormId and MmListFormId.
extern "C" const unsigned char FormTable[FormTableSize];
