/*
 * Helpers for the guard tests: a caller that controls and captures every
 * register, guards made by the DLL's own guard macro over test rows, and a
 * stand-in for a system function that changes ecx and edx.
 */
#include "binding/api_guard.inc"

        .bss
        .p2align 2
        .globl _CallSavedEsp
_CallSavedEsp:  .long 0                 /* esp before the arguments were pushed */
CallTarget:     .long 0
CallRegs:       .long 0
        .globl _FakeTarget
_FakeTarget:    .long 0                 /* what ClobberOnReturn calls */
FakeReturn:     .long 0                 /* its caller's return address */

/*
 * int CallWithRegisters(target, args, count, regs), cdecl. On entry:
 *
 *        +----------------+
 *   esp  | return         |
 *        | target         |  +4
 *        | args           |  +8
 *        | count          |  +12
 *        | regs           |  +16
 *
 * Registers as laid out in struct Registers: eax +0, ecx +4, edx +8, ebx +12,
 * esi +16, edi +20, ebp +24, stack delta +28.
 */
        .text
        .globl _CallWithRegisters
        .p2align 4
_CallWithRegisters:
        pushl %ebp                      /* the C caller's registers */
        pushl %ebx
        pushl %esi
        pushl %edi
        movl 20(%esp), %eax
        movl %eax, CallTarget
        movl 32(%esp), %eax
        movl %eax, CallRegs
        movl 24(%esp), %esi             /* args */
        movl 28(%esp), %ecx             /* count */
        movl %esp, _CallSavedEsp
1:      jecxz 2f
        pushl -4(%esi,%ecx,4)           /* the last argument first */
        decl %ecx
        jmp 1b
2:      movl CallRegs, %eax
        movl 4(%eax), %ecx
        movl 8(%eax), %edx
        movl 12(%eax), %ebx
        movl 16(%eax), %esi
        movl 20(%eax), %edi
        movl 24(%eax), %ebp
        movl 0(%eax), %eax
        call *CallTarget
        pushl %eax                      /* free a register to store through */
        movl CallRegs, %eax
        movl %ecx, 4(%eax)
        movl %edx, 8(%eax)
        movl %ebx, 12(%eax)
        movl %esi, 16(%eax)
        movl %edi, 20(%eax)
        movl %ebp, 24(%eax)
        popl %ecx
        movl %ecx, 0(%eax)
        movl %esp, %ecx
        subl _CallSavedEsp, %ecx        /* 0 when the callee removed exactly its arguments */
        movl %ecx, 28(%eax)
        movl _CallSavedEsp, %esp
        popl %edi
        popl %esi
        popl %ebx
        popl %ebp
        xorl %eax, %eax
        ret

/* Where a recovered fault resumes, with esp set to _CallSavedEsp. */
        .globl _CallRecover
_CallRecover:
        movl _CallSavedEsp, %esp
        popl %edi
        popl %esi
        popl %ebx
        popl %ebp
        movl $1, %eax
        ret

        .globl _ClobberOnReturn
        .p2align 4
_ClobberOnReturn:
        popl FakeReturn                 /* the arguments stay where they are */
        call *_FakeTarget               /* which removes them */
        movl $0xBADC0C0C, %ecx
        movl $0xBADD0D0D, %edx
        jmp *FakeReturn

/* Guards for 0 to 8 and 10 arguments, each over a row of its own. */
        .macro TEST_GUARD args
        .data
        .p2align 2
TestGuardRow_\args:
        .long 0
        .section .rdata$guards, "dr"
        .long \args, TestGuard_\args, TestGuardRow_\args
        API_GUARD TestGuard_\args, TestGuardRow_\args, \args
        .endm

        .section .rdata$guards, "dr"
        .p2align 2
        .globl _TestGuards
_TestGuards:
        .irp n, 0, 1, 2, 3, 4, 5, 6, 7, 8, 10
        TEST_GUARD \n
        .endr
        .section .rdata$guards, "dr"
TestGuardsEnd:
        .section .rdata, "dr"
        .p2align 2
        .globl _TestGuardCount
_TestGuardCount:
        .long (TestGuardsEnd - _TestGuards) / 12
