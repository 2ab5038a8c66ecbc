// The stand-in host's HostCreateProcess (52005), which the plug-in's
// CreateProcessA import is handed to.
#pragma once
#include <cstdint>

namespace host {

// Records its ten arguments, as CreateProcessA takes them, in the trace as
// "HostCreateProcess(0x..., ...)" (each value in eight hexadecimal digits),
// starts nothing and returns TRUE. Removes its arguments.
extern "C" int32_t __stdcall SvcCreateProcess(const char *application, char *commandLine,
                                              void *processAttributes, void *threadAttributes,
                                              int32_t inheritHandles, uint32_t creationFlags,
                                              void *environment, const char *directory,
                                              void *startupInfo, void *processInfo);

} // namespace host
