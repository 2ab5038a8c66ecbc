#include "tests/binding_support.h"

#include <cstring>

#include "plugin/plugin.h"

// What the binding sources take from the plug-in frame.
HostQueryFunction HostQuery;
int32_t UnderWindows;
char *CopyPluginTitle(char *buffer)
{
    std::memcpy(buffer, PluginTitle, sizeof PluginTitle);
    return buffer;
}

ExchangeRecord exchangeRecord;

void WriteCell(void **cell, void *value)
{
    DWORD old;
    VirtualProtect(cell, sizeof *cell, PAGE_READWRITE, &old);
    *cell = value;
    VirtualProtect(cell, sizeof *cell, old, &old);
}

CellOverride::CellOverride(void **cell, void *value) : cell_(cell), saved_(*cell)
{
    WriteCell(cell, value);
}
CellOverride::~CellOverride() { WriteCell(cell_, saved_); }

namespace {
FaultCatcher *activeCatcher;
}

FaultCatcher::FaultCatcher() : handle_(AddVectoredExceptionHandler(1, &Handler))
{
    activeCatcher = this;
}

FaultCatcher::~FaultCatcher()
{
    RemoveVectoredExceptionHandler(handle_);
    activeCatcher = nullptr;
}

LONG CALLBACK FaultCatcher::Handler(EXCEPTION_POINTERS *pointers)
{
    EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    CONTEXT *context = pointers->ContextRecord;
    if (!activeCatcher)
        return EXCEPTION_CONTINUE_SEARCH;
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->ExceptionAddress == nullptr) {
        activeCatcher->caught.push_back({record->ExceptionCode, nullptr, "", "", nullptr});
        // As if the slot's target had returned at once to its caller.
        context->Eip = *reinterpret_cast<DWORD *>(context->Esp);
        context->Esp += 4;
        context->Eax = kFaultResult;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == kDelayLoadModuleNotFound ||
        record->ExceptionCode == kDelayLoadProcNotFound) {
        Caught c{record->ExceptionCode, record->ExceptionAddress, "", "", nullptr};
        if (record->NumberParameters == 1) {
            auto *info = reinterpret_cast<DelayLoadInfo *>(record->ExceptionInformation[0]);
            c.library = info->libraryName;
            c.function = info->proc.importByName ? info->proc.name : "#";
            c.infoCell = info->cell;
        }
        activeCatcher->caught.push_back(c);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

int ExchangeRecord::CallsOn(const void *cell) const
{
    int n = 0;
    for (const auto &call : calls)
        n += call.first == cell;
    return n;
}

// The cell that the binding routine calls for the module-handle exchange.
extern "C" LONG WINAPI RecordingExchange(volatile LONG *target, LONG value)
{
    exchangeRecord.calls.push_back({target, value});
    if (target == exchangeRecord.raceCell)
        *target = value;
    return InterlockedExchange(target, value);
}
extern "C" void *PaktoExchangeCell __asm__("__imp__PaktoInterlockedExchange@8");
void *PaktoExchangeCell = reinterpret_cast<void *>(&RecordingExchange);
