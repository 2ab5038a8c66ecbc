#include "plugin/se_translator.h"

#include "plugin/runtime/runtime.h"

extern "C" {
// plugin/se_trampoline.S: the thread's chain head, and where a fault resumes.
void SeSetChainHead(SeTranslationFrame::Registration *head);
void SeTrampoline();
// Called by SeTrampoline.
void SeRaiseTranslated();
}

namespace {

EXCEPTION_DISPOSITION __cdecl frameHandler(EXCEPTION_RECORD *record, void *, CONTEXT *context,
                                           void *)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND |
                                  EXCEPTION_NONCONTINUABLE))
        return ExceptionContinueSearch;
    rt::ThreadData *thread = rt::ThisThread();
    if (!thread || !thread->seTranslator)
        return ExceptionContinueSearch;

    thread->seRecord = *record;
    thread->seContext = *context;
    // "Call" the trampoline from the faulting point: the return address is
    // one past the faulting instruction, so the unwinder finds the faulting
    // function's frame and call-site entry for it.
    context->Esp -= 4;
    *reinterpret_cast<DWORD *>(context->Esp) = context->Eip + 1;
    context->Eip = reinterpret_cast<DWORD>(&SeTrampoline);
    return ExceptionContinueExecution;
}

} // namespace

extern "C" void SeRaiseTranslated()
{
    rt::ThreadData *thread = rt::ThisThread();
    thread->sePointers.ExceptionRecord = &thread->seRecord;
    thread->sePointers.ContextRecord = &thread->seContext;
    thread->seTranslator(thread->seRecord.ExceptionCode, &thread->sePointers);
    __builtin_trap(); // a translator that returns leaves nothing to resume
}

SeTranslatorFunction SetSeTranslator(SeTranslatorFunction translator)
{
    rt::ThreadData *thread = rt::ThisThread();
    if (!thread)
        return nullptr;
    SeTranslatorFunction previous = thread->seTranslator;
    thread->seTranslator = translator;
    return previous;
}

void SeTranslator(unsigned int code, EXCEPTION_POINTERS *pointers)
{
    throw SE_Exception(code, pointers);
}

SeTranslationFrame::SeTranslationFrame()
{
    registration_.next = SeChainHead();
    registration_.handler = reinterpret_cast<void *>(&frameHandler);
    SeSetChainHead(&registration_);
}

SeTranslationFrame::~SeTranslationFrame()
{
    SeSetChainHead(registration_.next);
}
