// Instruction-level helpers for the guard tests (tests/guard_calls.S).
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

// Register contents before a call (what CallWithRegisters loads) and after it
// (what it finds), and how far esp ended up from where it was before the
// arguments were pushed: 0 when the callee removed exactly its arguments.
struct Registers {
    uint32_t eax, ecx, edx, ebx, esi, edi, ebp;
    int32_t stackDelta;
};
static_assert(offsetof(Registers, eax) == 0 && offsetof(Registers, ebp) == 24 &&
              offsetof(Registers, stackDelta) == 28);

// Pushes count arguments (args[0] lies lowest, as a C caller leaves them),
// loads the seven registers from *regs, calls target, and stores the
// registers and the stack delta back into *regs. Returns 0; returns 1 instead
// when the call faulted and RecoverFromFaults took the thread back here.
int CallWithRegisters(const void *target, const uint32_t *args, uint32_t count, Registers *regs);

// One guard made by the guard macro of the DLL (binding/api_guard.inc) for a
// function of `args` arguments, calling through `row`.
struct TestGuard {
    uint32_t args;
    void *guard;
    void **row;
};
extern const TestGuard TestGuards[];
extern const uint32_t TestGuardCount;

// Calls FakeTarget (null at start, a stdcall function) with the caller's
// arguments, then returns to the caller with ecx and edx set to ClobberedEcx
// and ClobberedEdx, as a system function may leave them. Not reentrant.
void ClobberOnReturn();
extern void *FakeTarget;
constexpr uint32_t ClobberedEcx = 0xBADC0C0C;
constexpr uint32_t ClobberedEdx = 0xBADD0D0D;

} // extern "C"

// While alive, a fault on this thread inside CallWithRegisters makes it
// return 1; code holds the exception code.
class RecoverFromFaults {
public:
    RecoverFromFaults();
    ~RecoverFromFaults();
    RecoverFromFaults(const RecoverFromFaults &) = delete;
    RecoverFromFaults &operator=(const RecoverFromFaults &) = delete;
    static uint32_t code;

private:
    void *handler_;
};
