// The C library functions that the compiler, libsupc++ and libgcc expect,
// supplied by the plug-in itself so that it links no C runtime DLL.
#include <windows.h>

#include <cstdarg>
#include <cstddef>

#include "plugin/runtime/format.h"

namespace rt {
HANDLE Heap();
int AddExitFunction(void (*)());
}

extern "C" {

// The plug-in runs on the host's thread only; libgcc and libsupc++ then
// skip their locks and keep their exception globals in static storage.
int _CRT_MT = 0;
int __mingwthr_key_dtor(DWORD, void (*)(void *)) { return 0; }

// libgcc's unwinder names the kernel's semaphore functions for the locks it
// skips while _CRT_MT is 0. The two import cells it calls through are
// defined here, so the module does not import these functions: a kernel that
// lacks them (the DOS extender's need not have CreateSemaphoreW) could not
// load it otherwise. Should a lock ever be taken, it gets no semaphore and
// fails, as the call would where the function is missing.
static HANDLE WINAPI NoSemaphore(SECURITY_ATTRIBUTES *, LONG, LONG, const wchar_t *)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
static BOOL WINAPI NoSemaphoreRelease(HANDLE, LONG, LONG *)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
void *createSemaphoreImport __asm__("__imp__CreateSemaphoreW@16") =
    reinterpret_cast<void *>(&NoSemaphore);
void *releaseSemaphoreImport __asm__("__imp__ReleaseSemaphore@12") =
    reinterpret_cast<void *>(&NoSemaphoreRelease);

void *malloc(size_t size) { return HeapAlloc(rt::Heap(), 0, size ? size : 1); }
void free(void *p)
{
    if (p)
        HeapFree(rt::Heap(), 0, p);
}
void *calloc(size_t n, size_t size)
{
    if (size && n > SIZE_MAX / size)
        return nullptr;
    size_t bytes = n * size;
    return HeapAlloc(rt::Heap(), HEAP_ZERO_MEMORY, bytes != 0 ? bytes : 1);
}
void *realloc(void *p, size_t size)
{
    if (!p)
        return malloc(size);
    if (!size) {
        free(p);
        return nullptr;
    }
    return HeapReAlloc(rt::Heap(), 0, p, size);
}

void *memcpy(void *dst, const void *src, size_t n)
{
    auto *d = static_cast<unsigned char *>(dst);
    auto *s = static_cast<const unsigned char *>(src);
    while (n--)
        *d++ = *s++;
    return dst;
}
void *memmove(void *dst, const void *src, size_t n)
{
    auto *d = static_cast<unsigned char *>(dst);
    auto *s = static_cast<const unsigned char *>(src);
    if (d < s) {
        while (n--)
            *d++ = *s++;
    } else {
        while (n--)
            d[n] = s[n];
    }
    return dst;
}
void *memset(void *dst, int c, size_t n)
{
    auto *d = static_cast<unsigned char *>(dst);
    while (n--)
        *d++ = static_cast<unsigned char>(c);
    return dst;
}
int memcmp(const void *a, const void *b, size_t n)
{
    auto *x = static_cast<const unsigned char *>(a);
    auto *y = static_cast<const unsigned char *>(b);
    for (; n; --n, ++x, ++y)
        if (*x != *y)
            return *x - *y;
    return 0;
}
size_t strlen(const char *s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}
int strncmp(const char *a, const char *b, size_t n)
{
    for (; n; --n, ++a, ++b) {
        auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x != y || !x)
            return x - y;
    }
    return 0;
}
int strcmp(const char *a, const char *b) { return strncmp(a, b, SIZE_MAX); }

int atexit(void (*f)()) { return rt::AddExitFunction(f); }

[[noreturn]] void abort()
{
    ExitProcess(3);
}

// What libsupc++'s verbose terminate handler writes goes to standard error.
// Streams are only told apart by number; all of them go to standard error.
void *__acrt_iob_func(unsigned index) { return reinterpret_cast<void *>(index + 1); }
void *acrtIobFuncImport __asm__("__imp____acrt_iob_func") =
    reinterpret_cast<void *>(&__acrt_iob_func);

static void writeStdErr(const void *data, size_t n)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), data, static_cast<DWORD>(n), &written, nullptr);
}
size_t fwrite(const void *data, size_t size, size_t n, void *)
{
    writeStdErr(data, size * n);
    return n;
}
int fputs(const char *s, void *)
{
    writeStdErr(s, strlen(s));
    return 0;
}
int fputc(int c, void *)
{
    char ch = static_cast<char>(c);
    writeStdErr(&ch, 1);
    return c;
}
int __mingw_vsprintf(char *buf, const char *format, va_list args)
{
    return FormatV(buf, SIZE_MAX, format, args);
}

} // extern "C"
