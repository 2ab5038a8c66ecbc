// The checks of the calls between the stand-in host and the plug-in
// (host/service_calls.cpp, host/checked_call.S).
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

// The checked call (host/checked_call.S), cdecl: calls target with count
// 32-bit argument words, arguments[0] at the lowest address, and returns its
// eax. Afterwards CheckedCallRemoved holds the bytes the target removed from
// the stack, and CheckedCallX87 how many values it left on the x87 stack.
// CheckedCallReal does the same for a target with a floating-point result,
// and pops the value it left on top into *result.
extern "C" {
int32_t __cdecl CheckedCall(const void *target, const uint32_t *arguments, uint32_t count)
    __asm__("_CheckedCall");
int32_t __cdecl CheckedCallReal(const void *target, const uint32_t *arguments, uint32_t count,
                                double *result) __asm__("_CheckedCallReal");
extern uint32_t CheckedCallRemoved __asm__("_CheckedCallRemoved");
extern uint32_t CheckedCallX87 __asm__("_CheckedCallX87");
}

// Calls a form callback of the plug-in with its 16-bit value and 0, as the
// host calls it, and ends the program with its reason (exit code 5) when it
// did not remove its two arguments or left the x87 stack otherwise than it
// found it. Gives its result.
int32_t CheckedCallback(const void *callback, int16_t value, const char *what);

} // namespace host
