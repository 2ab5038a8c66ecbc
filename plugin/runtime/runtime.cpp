#include "plugin/runtime/runtime.h"

#include <cstdint>

extern "C" {
// Placed at the start of .eh_frame by eh_begin.S, linked first; eh_end.S,
// linked last, ends the section with the zero terminator.
extern char TolmarEhFrameBegin[];
extern char TolmarEhFrameEnd[];
void __register_frame_info(const void *begin, void *object);
void *__deregister_frame_info(const void *begin);

// GCC's classic constructor and destructor lists, laid out by the linker:
// -1, the functions, 0.
extern void (*__CTOR_LIST__[])();
extern void (*__DTOR_LIST__[])();

void *malloc(size_t);
void free(void *);
}

namespace rt {
namespace {

HANDLE heap;
bool started;
// Room for libgcc's `struct object` (six words in this version) with margin.
alignas(8) unsigned char frameObject[64];

using ExitFunction = void (*)();
constexpr int kMaxExitFunctions = 64;
ExitFunction exitFunctions[kMaxExitFunctions];
int exitFunctionCount;

void runConstructors()
{
    int n = 0;
    while (__CTOR_LIST__[n + 1])
        ++n;
    for (int i = n; i >= 1; --i) // last registered first, as GCC's own start-up does
        __CTOR_LIST__[i]();
}

void runDestructors()
{
    for (int i = 1; __DTOR_LIST__[i]; ++i)
        __DTOR_LIST__[i]();
}

// What a runtime start does before any user code: pick the heap, read the
// environment block and the code page's tables. These functions come from
// the supplementary kernel library where the environment provides one.
void probeSystem()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (wchar_t *env = GetEnvironmentStringsW())
        FreeEnvironmentStringsW(env);
    CPINFO codePage{};
    GetCPInfo(CP_ACP, &codePage);
}

BOOL start()
{
    probeSystem();
    if (!heap)
        heap = HeapCreate(0, 0, 0);
    StartThreadData();
    if (+TolmarEhFrameEnd > +TolmarEhFrameBegin) // the list holds frames
        __register_frame_info(TolmarEhFrameBegin, frameObject);
    started = true;
    runConstructors();
    return TRUE;
}

BOOL end()
{
    for (int i = exitFunctionCount - 1; i >= 0; --i)
        exitFunctions[i]();
    exitFunctionCount = 0;
    runDestructors();
    EndThreadData();
    __deregister_frame_info(TolmarEhFrameBegin);
    HeapDestroy(heap);
    heap = nullptr;
    started = false;
    return TRUE;
}

} // namespace

BOOL ModuleHandler(HINSTANCE, DWORD reason, void *)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return started ? TRUE : start();
    case DLL_PROCESS_DETACH:
        return started ? end() : FALSE;
    case DLL_THREAD_DETACH:
        if (started)
            ReleaseThreadData();
        return TRUE;
    default:
        return TRUE;
    }
}

// The runtime's own heap, made on first use should anything allocate before
// the start.
HANDLE Heap()
{
    if (!heap)
        heap = HeapCreate(0, 0, 0);
    return heap;
}

int AddExitFunction(ExitFunction f)
{
    if (exitFunctionCount == kMaxExitFunctions)
        return -1;
    exitFunctions[exitFunctionCount++] = f;
    return 0;
}

} // namespace rt
