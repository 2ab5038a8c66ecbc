/*
 * The guarded system functions and their guards.
 *
 * The table below is the one list of the guarded functions, grouped by their
 * number of 32-bit arguments. For each function `GUARDS` emits
 *   - its row in ApiGuardTable (.data): the address of the function's import
 *     slot __imp__<name>@<4N>, until InstallApiGuards swaps in what the slot
 *     held (the function, or its delay-load entry);
 *   - its guard (.text), from API_GUARD in api_guard.inc, calling through
 *     the row;
 *   - the guard's address in ApiGuardCode (.rdata), at the row's index.
 *
 * Referencing __imp__<name>@<4N> is also what makes each function an import
 * of the module, whether or not any code calls it. Twenty of the slots are
 * delay-load cells (ZUNDA.dll) rather than regular kernel imports; the table
 * does not care which.
 */
#include "binding/api_guards.h"
#include "binding/api_guard.inc"

        .altmacro

        .macro GUARD_ROW name, bytes
        .data
ApiGuardRow_\name:
        .long __imp__\name\()@\bytes
        .section .rdata, "dr"
        .long ApiGuard_\name
        API_GUARD ApiGuard_\name, ApiGuardRow_\name, guard_args
        .set guard_rows, guard_rows + 1
        .endm

        /* Rows for functions of `args` arguments, in table order. */
        .macro GUARDS names:vararg
        .irp name, \names
        GUARD_ROW \name, %(4 * guard_args)
        .endr
        .endm

        /* A group of `rows` functions of `args` arguments begins ... */
        .macro ARGS args, rows
        .set guard_args, \args
        .set group_end, guard_rows + \rows
        .endm

        /* ... and ends with exactly that many rows. */
        .macro END_ARGS
        .if guard_rows - group_end
        .error "a group of the guard table has the wrong number of rows"
        .endif
        .endm

        .set guard_rows, 0

        .data
        .p2align 2
        .globl _ApiGuardTable
_ApiGuardTable:
        .section .rdata, "dr"
        .p2align 2
        .globl _ApiGuardCode
_ApiGuardCode:

        ARGS 0, 14
        GUARDS AllocConsole, GetACP, GetCommandLineA, GetCurrentProcess, GetCurrentThread
        GUARDS GetCurrentThreadId, GetEnvironmentStrings, GetEnvironmentStringsW, GetLastError
        GUARDS GetLogicalDrives, GetOEMCP, GetUserDefaultLCID, GetVersion, TlsAlloc
        END_ARGS

        ARGS 1, 46
        GUARDS CloseHandle, DeleteCriticalSection, DeleteFileA, EnterCriticalSection, ExitProcess
        GUARDS ExitThread, FindClose, FlushFileBuffers, FreeEnvironmentStringsA
        GUARDS FreeEnvironmentStringsW, FreeLibrary, GetDriveTypeA, GetFileAttributesA, GetFileType
        GUARDS GetLocalTime, GetModuleHandleA, GetStartupInfoA, GetStdHandle, GetSystemTime
        GUARDS GetTimeZoneInformation, GetVersionExA, GlobalFree, GlobalMemoryStatus, GlobalLock
        GUARDS GlobalUnlock, HeapDestroy, InitializeCriticalSection, IsValidCodePage
        GUARDS InterlockedDecrement, InterlockedIncrement, LeaveCriticalSection, LoadLibraryA
        GUARDS LocalFree, RemoveDirectoryA, ResumeThread, SetConsoleTitleA, SetCurrentDirectoryA
        GUARDS SetEndOfFile, SetHandleCount, SetLastError, SetSystemTime
        GUARDS SetUnhandledExceptionFilter, Sleep, TlsFree, TlsGetValue, UnhandledExceptionFilter
        END_ARGS

        ARGS 2, 30
        GUARDS Beep, CreateDirectoryA, EnumSystemLocalesA, FatalAppExitA, FileTimeToLocalFileTime
        GUARDS FindFirstFileA, FindNextFileA, GetConsoleMode, GetConsoleScreenBufferInfo, GetCPInfo
        GUARDS GetCurrentDirectoryA, GetExitCodeProcess, GetNumberOfConsoleInputEvents
        GUARDS GetProcAddress, IsBadWritePtr, IsValidLocale, LocalAlloc, MoveFileA
        GUARDS SetConsoleCtrlHandler, SetConsoleCursorInfo, SetConsoleCursorPosition
        GUARDS SetConsoleMode, SetConsoleScreenBufferSize, SetEnvironmentVariableA
        GUARDS SetFileAttributesA, SetStdHandle, SetThreadPriority, TerminateProcess, TlsSetValue
        GUARDS WaitForSingleObject
        END_ARGS

        ARGS 3, 9
        GUARDS FileTimeToDosDateTime, GetEnvironmentVariableA, GetModuleFileNameA, HeapAlloc
        GUARDS HeapCreate, HeapFree, HeapSize, SetConsoleWindowInfo, VirtualFree
        END_ARGS

        ARGS 4, 10
        GUARDS GetFullPathNameA, GetLocaleInfoA, GetLocaleInfoW, GetStringTypeW, HeapReAlloc
        GUARDS PeekConsoleInputA, RaiseException, ReadConsoleInputA, SetFilePointer, VirtualAlloc
        END_ARGS

        ARGS 5, 10
        GUARDS FillConsoleOutputAttribute, FillConsoleOutputCharacterA, GetDiskFreeSpaceA
        GUARDS GetStringTypeA, LockFile, ReadFile, ScrollConsoleScreenBufferA, WriteConsoleOutputA
        GUARDS WriteFile, UnlockFile
        END_ARGS

        ARGS 6, 5
        GUARDS CompareStringA, CompareStringW, CreateFileMappingA, CreateThread
        GUARDS MultiByteToWideChar
        END_ARGS

        ARGS 7, 2
        GUARDS CreateFileA, DuplicateHandle
        END_ARGS

        ARGS 8, 2
        GUARDS GetVolumeInformationA, WideCharToMultiByte
        END_ARGS

        /* Last: InstallApiGuards hands its slot to host service 52005. */
        ARGS 10, 1
        GUARDS CreateProcessA
        END_ARGS

        .if guard_rows - API_GUARD_ROWS
        .error "the guard table does not have API_GUARD_ROWS rows"
        .endif

/*
 * Kernel imports that stay unguarded: their slots keep what the loader put
 * there. Listed so that they are imports of the module even before any code
 * calls them.
 */
        .section .rdata, "dr"
        .p2align 2
UnguardedImports:
        .long __imp__lstrcmpA@8
        .long __imp__lstrcmpiA@8
        .long __imp__lstrcpyA@8
        .long __imp__RtlUnwind@16
