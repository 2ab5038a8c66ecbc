// The one list of the host's numbered services that the plug-in calls.
//
// TOLMAR_HOST_SERVICES(X) calls X(number, name, convention, result,
// parameters) once per service:
//   number      the entry number (the assembler label of its entry thunk,
//               see binding/entry_thunks.S);
//   name        the service's name without "Host": the plug-in declares
//               Host<name> (plugin/host_services.h), the stand-in host
//               defines Svc<name>;
//   convention  Callee (__stdcall: the service removes its arguments) or
//               Caller (__cdecl: the caller does);
//   result      the result type;
//   parameters  the typed parameter list, in parentheses.
//
// From it come the plug-in's declarations, the argument bytes of the
// fallback that an ignored missing service gets (binding/bind.cpp), and the
// stand-in host's declarations of its services, their registration and the
// entry wrappers that check each call's stack against the convention
// (host/service_table.h, host/service_calls.cpp, host/service_wrappers.S).
#pragma once
#include <cstdint>
#include "hostapi/records.h"

extern "C" {
using FormKeyCallback = int16_t(__stdcall *)(int16_t key, int16_t unused);
using FormRowCallback = int32_t(__stdcall *)(int16_t row, int32_t unused);
}

// clang-format off
#define TOLMAR_HOST_SERVICES(X)                                                                  \
    X(21286, Realloc, Caller, void *, (void *block, uint32_t size))                              \
    X(21287, Free, Caller, void, (void *block))                                                  \
    X(52023, NoticeBox, Caller, int32_t,                                                         \
      (int32_t notice, int16_t *answer, int32_t zero, const char *text))                         \
    X(52026, RunForm, Caller, int16_t,                                                           \
      (const void *formTable, int32_t formId, void *data, FormKeyCallback onKey, ...))           \
    X(52028, MessageBox, Callee, int32_t, (const char *title, const char *text, int32_t style))  \
    X(52029, MessageBoxF, Caller, int32_t,                                                       \
      (const char *title, const char *format, int32_t style, ...))                               \
    X(52033, FormValue, Callee, int16_t *, (int32_t elementId))                                  \
    X(52064, CloseMessage, Callee, void, ())                                                     \
    X(52158, ConvertText, Callee, char *,                                                        \
      (char *dst, const char *src, int32_t fromSet, int32_t toSet))                              \
    X(52179, ScaleAmount, Callee, double, (double amount, int32_t divisor))                      \
    X(52225, Profile, Caller, int16_t,                                                           \
      (int32_t mode, const char *section, const char *key, const char *format, ...))             \
    X(52256, GetTable, Callee, TableDescriptor *, (int32_t tableId))                             \
    X(52465, OpenTable, Callee, int32_t, (TableDescriptor *table, int32_t mode))                 \
    X(51425, MakeKey, Callee, int32_t,                                                           \
      (int32_t index, TableDescriptor **table, void *key, int32_t value))                        \
    X(50516, FindAll, Callee, void *,                                                            \
      (int32_t index, void *key, TableDescriptor *table, int32_t *count))                        \
    X(52286, ReadFound, Callee, int32_t,                                                         \
      (int32_t zero, int32_t position, TableDescriptor *table, int32_t zero2, void *found))      \
    X(50704, FreeFound, Callee, void, (void **found))                                            \
    X(52278, ScanFirst, Callee, int16_t,                                                         \
      (void *cursor, TableDescriptor *table, int32_t index, void *key, int32_t zero,             \
       int32_t zero2))                                                                           \
    X(52279, ScanNext, Callee, int32_t, (void *cursor))                                          \
    X(52281, ScanEnd, Callee, void, (void *cursor))                                              \
    X(30908, CompareDates, Callee, int32_t, (const char *a, const char *b))                      \
    X(32008, FormatDate, Callee, char *, (char *dst, const char *stored))                        \
    X(52332, PrepareRow, Callee, int32_t,                                                        \
      (int32_t zero, uint8_t *row, uint8_t *header, int32_t one))                                \
    X(52330, RowsDone, Callee, int32_t,                                                          \
      (uint8_t **rows, int32_t rowCount, uint8_t *header, int32_t zero, int32_t zero2))          \
    X(52470, EditorRefresh, Callee, int32_t,                                                     \
      (int32_t editorValue, TableDescriptor *table, uint8_t **rows, int32_t *rowCount,           \
       uint32_t arg8, int32_t flags, int32_t a7, int32_t a8, int32_t a9, int32_t a10,            \
       int32_t a11, int32_t a12))                                                                \
    X(52005, CreateProcess, Callee, int32_t,                                                     \
      (const char *app, char *cmd, void *pa, void *ta, int32_t inherit, uint32_t flags,          \
       void *env, const char *dir, void *startup, void *info))
// clang-format on

// The calling convention keyword of a list entry's convention.
#define TOLMAR_CONVENTION(convention) TOLMAR_CONVENTION_##convention
#define TOLMAR_CONVENTION_Callee __stdcall
#define TOLMAR_CONVENTION_Caller __cdecl
#define TOLMAR_CALLEE_CLEANS(convention) TOLMAR_CALLEE_CLEANS_##convention
#define TOLMAR_CALLEE_CLEANS_Callee true
#define TOLMAR_CALLEE_CLEANS_Caller false

namespace host_services {

// The bytes a call pushes for the arguments of a function type: each
// argument takes whole 32-bit words. A variadic type counts its fixed
// arguments only.
template <class F> struct ArgumentBytes;
template <class R, class... A> struct ArgumentBytes<R(A...)> {
    static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
};
template <class R, class... A> struct ArgumentBytes<R(A..., ...)> {
    static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
};

// What a service of the list removes from the stack on return.
#define TOLMAR_REMOVED_BYTES(convention, result, parameters)                                     \
    (TOLMAR_CALLEE_CLEANS(convention) ? host_services::ArgumentBytes<result parameters>::value : 0)

} // namespace host_services
