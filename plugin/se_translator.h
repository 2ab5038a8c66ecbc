// Structured (system) exceptions as C++ exceptions.
//
// GCC on 32-bit Windows unwinds with DWARF tables, so a try block leaves no
// trace in the system's exception-handler chain and the system cannot find
// it; nor does GCC's runtime offer a per-thread translator. Code that wants
// to catch system exceptions therefore opens an SeTranslationFrame around
// its try block: the frame links a handler into the thread's chain, and the
// handler calls the thread's translator (SetSeTranslator) from the faulting
// point, so that the translator's throw unwinds through the faulting frames
// to the catch. Without a frame, or without a translator, a system exception
// goes on to the host's handlers untouched. (Code that may fault inside such
// a frame is compiled with -fnon-call-exceptions.)
#pragma once
#include <windows.h>

class SE_Exception {
public:
    SE_Exception(unsigned int code, EXCEPTION_POINTERS *pointers) : code_(code), pointers_(pointers)
    {
    }
    SE_Exception(const SE_Exception &) = default;
    ~SE_Exception() {}
    unsigned int code() const { return code_; }
    EXCEPTION_POINTERS *pointers() const { return pointers_; }

private:
    unsigned int code_;
    EXCEPTION_POINTERS *pointers_;
};

using SeTranslatorFunction = void (*)(unsigned int, EXCEPTION_POINTERS *);

// Sets the calling thread's translator and returns the previous one.
SeTranslatorFunction SetSeTranslator(SeTranslatorFunction translator);

// The plug-in's translator: throws SE_Exception(code, pointers).
[[noreturn]] void SeTranslator(unsigned int code, EXCEPTION_POINTERS *pointers);

class SeTranslationFrame {
public:
    SeTranslationFrame();
    ~SeTranslationFrame();
    SeTranslationFrame(const SeTranslationFrame &) = delete;
    SeTranslationFrame &operator=(const SeTranslationFrame &) = delete;

    struct Registration {
        Registration *next;
        void *handler;
    };

private:
    Registration registration_;
};

// The first registration of the calling thread's chain (plugin/se_trampoline.S).
extern "C" SeTranslationFrame::Registration *SeChainHead();
