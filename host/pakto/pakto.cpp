// Stand-in for the PAKTO.dll that accompanies the host: it supplies the
// atomic exchange that the plug-in's delay-load binding takes from it.
// No runtime, no imports.

extern "C" int __stdcall PaktoMain(void *, unsigned long, void *) { return 1; }

extern "C" long __stdcall PaktoInterlockedExchange(volatile long *target, long value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); // xchg
}
