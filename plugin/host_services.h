// The host's numbered services that the plug-in calls.
//
// Each declaration names the service's entry number (the assembler label of
// its entry thunk, see binding/entry_thunks.S), its calling convention and
// its arguments. Callers use these as ordinary functions; the first call of
// each binds it through HostQuery.
//
// __stdcall: the service removes its arguments. __cdecl: the caller does.
#pragma once
#include <cstdint>
#include "plugin/host_records.h"

#define HOST_ENTRY(number) __asm__("_HostEntry_" #number)

extern "C" {

using FormKeyCallback = int16_t(__stdcall *)(int16_t key, int16_t unused);
using FormRowCallback = int32_t(__stdcall *)(int16_t row, int32_t unused);

void *__cdecl HostRealloc(void *block, uint32_t size) HOST_ENTRY(21286);
void __cdecl HostFree(void *block) HOST_ENTRY(21287);
int32_t __cdecl HostNoticeBox(int32_t notice, int16_t *answer, int32_t zero, const char *text)
    HOST_ENTRY(52023);
int16_t __cdecl HostRunForm(const void *formTable, int32_t formId, void *data,
                            FormKeyCallback onKey, ...) HOST_ENTRY(52026);
int32_t __stdcall HostMessageBox(const char *title, const char *text, int32_t style)
    HOST_ENTRY(52028);
int32_t __cdecl HostMessageBoxF(const char *title, const char *format, int32_t style, ...)
    HOST_ENTRY(52029);
int16_t *__stdcall HostFormValue(int32_t elementId) HOST_ENTRY(52033);
void __stdcall HostCloseMessage() HOST_ENTRY(52064);
char *__stdcall HostConvertText(char *dst, const char *src, int32_t fromSet, int32_t toSet)
    HOST_ENTRY(52158);
double __stdcall HostScaleAmount(double amount, int32_t divisor) HOST_ENTRY(52179);
int16_t __cdecl HostProfile(int32_t mode, const char *section, const char *key,
                            const char *format, ...) HOST_ENTRY(52225);
TableDescriptor *__stdcall HostGetTable(int32_t tableId) HOST_ENTRY(52256);
int32_t __stdcall HostOpenTable(TableDescriptor *table, int32_t mode) HOST_ENTRY(52465);
int32_t __stdcall HostMakeKey(int32_t index, TableDescriptor **table, void *key, int32_t value)
    HOST_ENTRY(51425);
void *__stdcall HostFindAll(int32_t index, void *key, TableDescriptor *table, int32_t *count)
    HOST_ENTRY(50516);
int32_t __stdcall HostReadFound(int32_t zero, int32_t position, TableDescriptor *table,
                                int32_t zero2, void *found) HOST_ENTRY(52286);
void __stdcall HostFreeFound(void **found) HOST_ENTRY(50704);
int16_t __stdcall HostScanFirst(void *cursor, TableDescriptor *table, int32_t index, void *key,
                                int32_t zero, int32_t zero2) HOST_ENTRY(52278);
int32_t __stdcall HostScanNext(void *cursor) HOST_ENTRY(52279);
void __stdcall HostScanEnd(void *cursor) HOST_ENTRY(52281);
int32_t __stdcall HostCompareDates(const char *a, const char *b) HOST_ENTRY(30908);
char *__stdcall HostFormatDate(char *dst, const char *stored) HOST_ENTRY(32008);
int32_t __stdcall HostPrepareRow(int32_t zero, uint8_t *row, uint8_t *header, int32_t one)
    HOST_ENTRY(52332);
int32_t __stdcall HostRowsDone(uint8_t **rows, int32_t rowCount, uint8_t *header, int32_t zero,
                               int32_t zero2) HOST_ENTRY(52330);
int32_t __stdcall HostEditorRefresh(int32_t editorValue, TableDescriptor *table, uint8_t **rows,
                                    int32_t *rowCount, uint32_t arg8, int32_t flags, int32_t a7,
                                    int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12)
    HOST_ENTRY(52470);
int32_t __stdcall HostCreateProcess(const char *app, char *cmd, void *pa, void *ta,
                                    int32_t inherit, uint32_t flags, void *env, const char *dir,
                                    void *startup, void *info) HOST_ENTRY(52005);

} // extern "C"
