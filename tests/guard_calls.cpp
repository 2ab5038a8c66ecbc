#include "tests/guard_calls.h"

#include <windows.h>

extern "C" {
extern uint32_t CallSavedEsp;
void CallRecover();
}

namespace {

DWORD recoveringThread;

// Takes a faulting thread back to CallWithRegisters' caller. Only errors
// count: informational exceptions (debug output and the like) pass on.
LONG CALLBACK Recover(EXCEPTION_POINTERS *e)
{
    DWORD code = e->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() != recoveringThread || (code & 0xC0000000) != 0xC0000000)
        return EXCEPTION_CONTINUE_SEARCH;
    RecoverFromFaults::code = code;
    e->ContextRecord->Eip = reinterpret_cast<DWORD>(&CallRecover);
    e->ContextRecord->Esp = CallSavedEsp;
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

uint32_t RecoverFromFaults::code;

RecoverFromFaults::RecoverFromFaults()
{
    code = 0;
    recoveringThread = GetCurrentThreadId();
    handler_ = AddVectoredExceptionHandler(1, &Recover);
}

RecoverFromFaults::~RecoverFromFaults()
{
    RemoveVectoredExceptionHandler(handler_);
    recoveringThread = 0;
}
