// The check of a service's call site (host/service_calls.cpp), for its tests.
#pragma once
#include <cstdint>
#include <optional>

namespace host {

// The bytes that the code at a service's return address takes the service
// to have removed from the stack, when they differ from removed; nothing
// when they agree or the code does not tell. stores: the caller's image
// passes arguments by storing them below its frame rather than pushing.
// Reads up to 32 bytes at back.
std::optional<uint32_t> CallerExpects(const uint8_t *back, uint32_t removed, bool stores);

// Calls a form callback of the plug-in with its 16-bit value and 0, as the
// host calls it, and ends the program with its reason (exit code 5) when it
// did not remove its two arguments or left the x87 stack otherwise than it
// found it. Gives its result.
int32_t CheckedCallback(const void *callback, int16_t value, const char *what);

} // namespace host
