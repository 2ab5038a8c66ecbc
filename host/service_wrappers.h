// The entry wrappers of the stand-in host's services (host/service_wrappers.S),
// shared by the assembly and by the C++ side (host/service_calls.cpp).
#pragma once

#define TOLMAR_SERVICE_WRAPPERS 32      // entries; the list may hold as many services
#define TOLMAR_SERVICE_WRAPPER_STRIDE 16 // bytes from one entry to the next
#define TOLMAR_SERVICE_FRAME_SIZE 16     // return address, esp, index, spare
#define TOLMAR_SERVICE_FRAMES 64         // calls that may nest
