// The module entry point and PluginEntry, the host's way in.
#include "plugin/attach.h"
#include "plugin/plugin.h"
#include "plugin/runtime/runtime.h"
#include "plugin/se_translator.h"
#include "binding/api_guards.h"

HostQueryFunction HostQuery;
EnvKind g_envKind;
int32_t UnderWindows;
LoadArgs g_loadArgs;

char *CopyPluginTitle(char *buffer)
{
    __builtin_memcpy(buffer, PluginTitle, sizeof PluginTitle);
    return buffer;
}

namespace {

void *moduleHandle(const char *name) { return GetModuleHandleA(name); }
void *procAddress(void *module, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}
uint32_t version() { return GetVersion(); }

void processAttach(HINSTANCE module, DWORD reason, void *reserved)
{
    InstallApiGuards();
    g_envKind = ProbeEnvironment({moduleHandle, procAddress, version});
    UnderWindows = g_envKind != EnvDosExtender;
    // Looked up by name: the DOS extender's kernel may lack it.
    using DisableFn = BOOL(WINAPI *)(HMODULE);
    if (auto disable = reinterpret_cast<DisableFn>(reinterpret_cast<void *>(
            GetProcAddress(GetModuleHandleA("Kernel32"), "DisableThreadLibraryCalls"))))
        disable(module);
    g_loadArgs = {module, reason, reserved};
}

} // namespace

extern "C" BOOL WINAPI TolmarDllMain(HINSTANCE module, DWORD reason, void *reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        processAttach(module, reason, reserved);
        return TRUE;
    }
    return rt::ModuleHandler(module, reason, reserved);
}

extern "C" int32_t __stdcall PluginEntry(HostQueryFunction callback, char *title)
{
    if (!callback) {
        DetachFromHost();
        return 0;
    }
    HostQuery = callback; // before anything may bind a system function
    rt::ModuleHandler(g_loadArgs.module, DLL_PROCESS_ATTACH, g_loadArgs.reserved);
    if (title)
        CopyPluginTitle(title);
    SetSeTranslator(SeTranslator);
    if (AttachToHost() == -1) {
        DetachFromHost();
        return -1;
    }
    InstallNotice();
    return 0;
}
