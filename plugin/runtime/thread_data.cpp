#include "plugin/runtime/runtime.h"

extern "C" {
void *malloc(size_t);
void free(void *);
}

namespace rt {
namespace {
DWORD tlsIndex = TLS_OUT_OF_INDEXES;
}

void StartThreadData()
{
    if (tlsIndex == TLS_OUT_OF_INDEXES)
        tlsIndex = TlsAlloc();
}

void ReleaseThreadData()
{
    if (tlsIndex == TLS_OUT_OF_INDEXES)
        return;
    if (void *data = TlsGetValue(tlsIndex)) {
        TlsSetValue(tlsIndex, nullptr);
        free(data);
    }
}

void EndThreadData()
{
    ReleaseThreadData();
    if (tlsIndex != TLS_OUT_OF_INDEXES)
        TlsFree(tlsIndex);
    tlsIndex = TLS_OUT_OF_INDEXES;
}

ThreadData *ThisThread()
{
    if (tlsIndex == TLS_OUT_OF_INDEXES)
        return nullptr;
    auto *data = static_cast<ThreadData *>(TlsGetValue(tlsIndex));
    if (!data) {
        data = static_cast<ThreadData *>(malloc(sizeof(ThreadData)));
        if (!data)
            return nullptr;
        __builtin_memset(data, 0, sizeof *data);
        TlsSetValue(tlsIndex, data);
    }
    return data;
}

} // namespace rt
