// The runtime's printf-style formatter. It also stands in for wsprintfA.
#pragma once
#include <cstdarg>
#include <cstddef>

#ifndef _WIN32
#define __cdecl // one convention only off 32-bit Windows (unit tests on the build machine)
#endif

// Formats into buf, writing at most cap - 1 characters and a terminating
// zero (nothing when cap is 0). Returns the length the full text would have.
int FormatV(char *buf, size_t cap, const char *format, va_list args);
int FormatBounded(char *buf, size_t cap, const char *format, ...);

// wsprintfA's contract: the buffer is not bounded; the caller sizes it.
// Returns the number of characters written without the terminating zero.
extern "C" int __cdecl TolmarFormat(char *buf, const char *format, ...);
