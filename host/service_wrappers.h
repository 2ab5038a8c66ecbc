// The entry wrappers of the stand-in host's services (host/service_wrappers.S),
// shared by the assembly and by the C++ side (host/service_calls.cpp).
#pragma once

#define TOLMAR_SERVICE_WRAPPERS 32      // entries; the list may hold as many services
#define TOLMAR_SERVICE_WRAPPER_STRIDE 16 // bytes from one entry to the next
#define TOLMAR_SERVICE_FRAME_SIZE 16     // bytes of one frame of the wrappers' frame stack
#define TOLMAR_SERVICE_FRAME_RETURN 0    // the caller's return address
#define TOLMAR_SERVICE_FRAME_ESP 4       // esp at the call, less the return address
#define TOLMAR_SERVICE_FRAME_INDEX 8     // the service's place in the list
#define TOLMAR_SERVICE_FRAME_EBX 12      // the caller's ebx, while the wrapper keeps the frame in it
#define TOLMAR_SERVICE_FRAMES 64         // calls that may nest
