/*
 * Register-level helpers for the binding tests.
 *
 * CallWithRegisters(target, count), cdecl: pushes count argument words
 * (0xA5A5A5A5), loads eax ecx edx ebx esi edi ebp from CallerRegs, and calls
 * target. On the way back it records eax and how far esp moved, then puts
 * every register back. At the call:
 *
 *        +----------------------+
 *   esp  | argument 1           |  <- CallerEspAtCall
 *        | ...                  |
 *        | argument count       |
 *        +----------------------+
 *
 * CallRealWithRegisters(target, count) does the same for a target that
 * returns a floating-point value, and stores it (popped from the x87 stack)
 * in CallerRealAfter.
 *
 * RegisterProbe@4, stdcall with one argument: a "host service" that records
 * the eight registers and its argument as it receives them, and returns
 * 0x600DF00D.
 */
        .data
        .globl _CallerRegs
_CallerRegs:            .space 28       /* eax ecx edx ebx esi edi ebp */
        .globl _ProbeSeen
_ProbeSeen:             .space 40       /* eax ecx edx ebx esp ebp esi edi, argument, calls */
        .globl _CallerEspAtCall
_CallerEspAtCall:       .long 0
        .globl _CallerEspAfter
_CallerEspAfter:        .long 0
        .globl _CallerEaxAfter
_CallerEaxAfter:        .long 0
        .globl _CallerRealAfter
        .p2align 3
_CallerRealAfter:       .double 0
realResult:             .long 0
savedEsp:               .long 0
target:                 .long 0

        .text
        .globl _CallRealWithRegisters
_CallRealWithRegisters:
        movl $1, realResult
        jmp 0f

        .globl _CallWithRegisters
_CallWithRegisters:
        movl $0, realResult
0:      pushl %ebx
        pushl %esi
        pushl %edi
        pushl %ebp
        movl 20(%esp), %eax             /* target */
        movl %eax, target
        movl 24(%esp), %ecx             /* count */
        movl %esp, savedEsp
1:      jecxz 2f
        pushl $0xA5A5A5A5
        decl %ecx
        jmp 1b
2:      movl %esp, _CallerEspAtCall
        movl _CallerRegs+4, %ecx
        movl _CallerRegs+8, %edx
        movl _CallerRegs+12, %ebx
        movl _CallerRegs+16, %esi
        movl _CallerRegs+20, %edi
        movl _CallerRegs+24, %ebp
        movl _CallerRegs+0, %eax
        call *target
        movl %esp, _CallerEspAfter
        movl %eax, _CallerEaxAfter
        cmpl $0, realResult
        je 3f
        fstpl _CallerRealAfter
3:      movl savedEsp, %esp
        popl %ebp
        popl %edi
        popl %esi
        popl %ebx
        ret

        .globl _RegisterProbe@4
_RegisterProbe@4:
        movl %eax, _ProbeSeen+0
        movl %ecx, _ProbeSeen+4
        movl %edx, _ProbeSeen+8
        movl %ebx, _ProbeSeen+12
        movl %esp, _ProbeSeen+16
        movl %ebp, _ProbeSeen+20
        movl %esi, _ProbeSeen+24
        movl %edi, _ProbeSeen+28
        movl 4(%esp), %eax
        movl %eax, _ProbeSeen+32
        incl _ProbeSeen+36
        movl $0x600DF00D, %eax
        ret $4
