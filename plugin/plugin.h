// Module state and constants of the plug-in frame.
#pragma once
#include <cstdint>
#include <windows.h>

#include "hostapi/mazovia.h"
#include "plugin/probe.h"

// The host's callback: code 2 looks up a procedure by name, or by a
// host-entry number below 65536 passed in place of the pointer.
using HostQueryFunction = intptr_t(__cdecl *)(int32_t code, const void *argument);
constexpr int32_t kHostQueryProcedure = 2;


struct LoadArgs {
    HINSTANCE module;
    DWORD reason;
    void *reserved;
};

extern HostQueryFunction HostQuery;
extern EnvKind g_envKind;
extern int32_t UnderWindows;
extern LoadArgs g_loadArgs;

// In Mazovia: 37 characters.
inline constexpr auto PluginTitle = MAZOVIA("Dok. sprzedaży z MM (Ctrl+8 dok.spr.)");
static_assert(sizeof PluginTitle == 38);

// Copies PluginTitle with its terminating zero into buffer; returns buffer.
char *CopyPluginTitle(char *buffer);


extern "C" int32_t __stdcall PluginEntry(HostQueryFunction callback, char *title);
