/*
 * Delay imports: the sixty kernel functions taken from ZUNDA.dll and the two
 * user-interface functions taken from USER32.dll, bound on first call by
 * DelayLoadHelper (binding/delay_load.cpp).
 *
 * The lists at the end are the one source; the macros lay out, in the
 * writable section .didat, in the grouped sections .didat$0 to .didat$9,
 * which the linker joins in the order of their names:
 *
 *   0  the two descriptors, old form (attributes 0, absolute addresses),
 *      and the zero descriptor that ends them
 *   1  the module-handle cells, empty at load
 *   2  ZUNDA.dll address cells    3  USER32.dll address cells
 *   4  ZUNDA.dll name table       5  USER32.dll name table
 *   6  ZUNDA.dll bound table      7  USER32.dll bound table (zeros, unused)
 *   8  hint-and-name entries      9  library names
 *
 * Each address cell carries the import symbol the compiler uses for the
 * function (__imp__GetCPInfo@8, __imp__wsprintfA, ...), so C code calls the
 * functions as usual and lands here. At load a cell holds its binding stub,
 * Bind_<fn>, which puts the cell's address into eax and jumps to its
 * library's tail, <Lib>TailMerge. Neither moves the stack before the call
 * of the binding routine, so on entry to both (the caller called through
 * the cell):
 *
 *        +--------------------+
 *   esp  | caller's return    |  <- CFA - 4
 *        | caller's arguments |  <- CFA
 *
 * and in the tail at the call of DelayLoadHelper:
 *
 *        +--------------------+
 *   esp  | descriptor         |  +0    DelayLoadHelper's two arguments,
 *        | cell               |  +4    which it removes itself
 *        | edx                |  +8    ecx and edx may carry the caller's
 *        | ecx                |  +12   arguments (fastcall, thiscall)
 *        | caller's return    |  +16   <- CFA - 4
 *        | caller's arguments |  +20   <- CFA
 *
 * After the call the tail takes edx and ecx back and jumps to the bound
 * function with the stack as on entry, so that the function runs as if the
 * caller had called it directly. eax is the one register that the stub and
 * the tail change: it carries the cell, then the function's address.
 *
 * For the unwinder the stub and the tail are each one frame whose return
 * address is the caller's: an exception raised while the function binds
 * unwinds from DelayLoadHelper through the tail straight into the caller.
 *
 * Later calls through the cell go straight to the function.
 */
        .section .didat, "w"

        .macro LIBRARY tag, name, iat, int, bound
        .section .didat$0, "w"
        .globl _\tag\()DelayDescriptor
_\tag\()DelayDescriptor:
        .long 0                         /* attributes: old form */
        .long \tag\()LibraryName
        .long \tag\()ModuleCell
        .long \tag\()AddressTable
        .long \tag\()NameTable
        .long \tag\()BoundTable
        .long 0                         /* no unload table */
        .long 0                         /* time stamp */
        .section .didat$1, "w"
        .globl \tag\()ModuleCell
\tag\()ModuleCell:
        .long 0
        .section .didat$\iat, "w"
        .globl \tag\()AddressTable
\tag\()AddressTable:
        .section .didat$\int, "w"
\tag\()NameTable:
        .section .didat$\bound, "w"
\tag\()BoundTable:
        .section .didat$9, "w"
\tag\()LibraryName:
        .asciz "\name"
        .text
        .p2align 4
\tag\()TailMerge:
        .cfi_startproc
        pushl %ecx                      /* the caller's ecx and edx, kept */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ecx, 0
        pushl %edx
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %edx, 0
        pushl %eax                      /* DelayLoadHelper(descriptor, cell) ... */
        .cfi_adjust_cfa_offset 4
        pushl $_\tag\()DelayDescriptor
        .cfi_adjust_cfa_offset 4
        call _DelayLoadHelper@8         /* ... which removes its arguments; eax = the function */
        .cfi_adjust_cfa_offset -8
        popl %edx                       /* ecx and edx back as the caller left them */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %edx
        popl %ecx
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ecx
        jmp *%eax                       /* into the function, with the caller's return and arguments */
        .cfi_endproc
        .section .didat, "w"
        .endm

        .macro FUNCTION tag, iat, int, bound, name, cell
        .section .didat$\iat, "w"
        .globl \cell
\cell:
        .long Bind_\name
        .section .didat$\int, "w"
        .long HintName_\name
        .section .didat$\bound, "w"
        .long 0
        .section .didat$8, "w"
        .p2align 1
HintName_\name:
        .short 0                        /* hint */
        .asciz "\name"
        .text
Bind_\name:
        .cfi_startproc
        movl $\cell, %eax               /* which cell to bind */
        jmp \tag\()TailMerge           /* the library's tail, the stack untouched */
        .cfi_endproc
        .section .didat, "w"
        .endm

        .macro LIBRARY_END iat, int, bound
        .section .didat$\iat, "w"
        .long 0
        .section .didat$\int, "w"
        .long 0
        .section .didat$\bound, "w"
        .long 0
        .endm

        /* A ZUNDA.dll function: name and the bytes of its arguments (stdcall). */
        .macro ZUNDA name, bytes
        FUNCTION Zunda, 2, 4, 6, \name, __imp__\name\()@\bytes
        .endm

        /* A USER32.dll function: name and import symbol. */
        .macro USER32 name, cell
        FUNCTION User32, 3, 5, 7, \name, \cell
        .endm

        .section .didat$0, "w"
        .globl _DelayImportDirectory
        .p2align 2
_DelayImportDirectory:

        LIBRARY Zunda, "ZUNDA.dll", 2, 4, 6
        LIBRARY User32, "USER32.dll", 3, 5, 7

        .section .didat$0, "w"
        .fill 8, 4, 0                   /* the zero descriptor */
        .globl _DelayImportDirectoryEnd
_DelayImportDirectoryEnd:

        ZUNDA lstrlenW, 4
        ZUNDA ExitThread, 4
        ZUNDA GetUserDefaultLCID, 0
        ZUNDA GetLocaleInfoA, 16
        ZUNDA GetLocaleInfoW, 16
        ZUNDA IsValidCodePage, 4
        ZUNDA IsValidLocale, 8
        ZUNDA EnumSystemLocalesA, 8
        ZUNDA GetVersionExA, 4
        ZUNDA LCMapStringA, 24
        ZUNDA LCMapStringW, 24
        ZUNDA CompareStringA, 24
        ZUNDA CompareStringW, 24
        ZUNDA GetCPInfo, 8
        ZUNDA FreeEnvironmentStringsA, 4
        ZUNDA FreeEnvironmentStringsW, 4
        ZUNDA GetEnvironmentStringsW, 0
        ZUNDA GetStringTypeA, 20
        ZUNDA GetStringTypeW, 16
        ZUNDA InterlockedIncrement, 4
        ZUNDA InterlockedDecrement, 4
        ZUNDA IsBadCodePtr, 4
        ZUNDA IsBadWritePtr, 8
        ZUNDA IsBadReadPtr, 8
        ZUNDA FatalAppExitA, 8
        ZUNDA HeapValidate, 12
        ZUNDA DisableThreadLibraryCalls, 4
        ZUNDA SetErrorMode, 4
        ZUNDA QueryPerformanceFrequency, 4
        ZUNDA QueryPerformanceCounter, 4
        ZUNDA BuildCommDCBAndTimeoutsA, 12
        ZUNDA PurgeComm, 8
        ZUNDA SetCommState, 8
        ZUNDA SetCommMask, 8
        ZUNDA SetupComm, 12
        ZUNDA SetCommTimeouts, 8
        ZUNDA GetCommModemStatus, 8
        ZUNDA EscapeCommFunction, 8
        ZUNDA CreateEventA, 16
        ZUNDA SetEvent, 4
        ZUNDA ResetEvent, 4
        ZUNDA GetOverlappedResult, 16
        ZUNDA GetShortPathNameA, 12
        ZUNDA GetComputerNameA, 8
        ZUNDA SearchPathA, 24
        ZUNDA PeekNamedPipe, 24
        ZUNDA TransmitCommChar, 8
        ZUNDA TryEnterCriticalSection, 4
        ZUNDA GetConsoleWindow, 0
        ZUNDA GetSystemTimeAsFileTime, 4
        ZUNDA FlushInstructionCache, 12
        ZUNDA AreFileApisANSI, 0
        ZUNDA GetCommTimeouts, 8
        ZUNDA GetCommState, 8
        ZUNDA GetSystemPowerStatus, 4
        ZUNDA OpenFileMappingA, 12
        ZUNDA OpenProcess, 12
        ZUNDA FindFirstChangeNotificationA, 12
        ZUNDA FindNextChangeNotification, 4
        ZUNDA ConvertDefaultLocale, 4
        LIBRARY_END 2, 4, 6

        USER32 wsprintfA, __imp__wsprintfA
        USER32 MessageBoxA, __imp__MessageBoxA@16
        LIBRARY_END 3, 5, 7
