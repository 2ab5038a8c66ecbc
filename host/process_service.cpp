// HostCreateProcess of the stand-in host: a recorder, no process is started.
#include "host/process_service.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "host/stand_in_host.h"

namespace host {

extern "C" int32_t __stdcall SvcCreateProcess(const char *application, char *commandLine,
                                              void *processAttributes, void *threadAttributes,
                                              int32_t inheritHandles, uint32_t creationFlags,
                                              void *environment, const char *directory,
                                              void *startupInfo, void *processInfo)
{
    const uint32_t values[] = {
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(application)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(commandLine)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(processAttributes)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(threadAttributes)),
        static_cast<uint32_t>(inheritHandles),
        creationFlags,
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(environment)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(directory)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(startupInfo)),
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(processInfo)),
    };
    std::string line = "HostCreateProcess(";
    for (uint32_t v : values) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08" PRIx32, v);
        if (line.back() != '(')
            line += ", ";
        line += text;
    }
    StandInHost::Current().Record(line + ")");
    return 1;
}

} // namespace host
