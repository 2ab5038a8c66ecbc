// The stand-in host's numbered services, declared from the one list of them
// (hostapi/service_list.h): the host defines Svc<name> for each entry,
// and every file that defines one includes this header, so that a
// definition of another type or convention does not compile. HostQuery
// looks them up in Services(), which gives each one's entry wrapper
// (host/service_calls.cpp).
#pragma once
#include <cstdint>
#include <span>

#include "hostapi/service_list.h"

namespace host {

struct Service {
    uint32_t number;
    void *address;
};

extern "C" {
#define TOLMAR_DECLARE_HOST_SERVICE(number, name, convention, result, parameters)                \
    result TOLMAR_CONVENTION(convention) Svc##name parameters;
TOLMAR_HOST_SERVICES(TOLMAR_DECLARE_HOST_SERVICE)
#undef TOLMAR_DECLARE_HOST_SERVICE
}

std::span<const Service> Services(); // one entry per listed service

} // namespace host
