// How the stand-in host's services are listed: each source file of the host
// that implements services offers its own table; HostQuery looks in all.
#pragma once
#include <cstdint>
#include <span>

namespace host {

struct Service {
    uint32_t number;
    void *address;
};

std::span<const Service> FrameServices(); // services.cpp: tables 45, messages, settings
std::span<const Service> FormServices();  // forms.cpp: the form engine
std::span<const Service> DataServices();  // data.cpp: tables, heap, dates, rows

} // namespace host
