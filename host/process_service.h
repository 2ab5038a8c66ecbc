// The stand-in host's HostCreateProcess (52005), which the plug-in's
// CreateProcessA import is handed to.
#pragma once
#include "host/service_table.h"

namespace host {

// SvcCreateProcess records its ten arguments, as CreateProcessA takes them,
// in the trace as "HostCreateProcess(0x..., ...)" (each value in eight
// hexadecimal digits), starts nothing and returns TRUE. Removes its
// arguments.

} // namespace host
