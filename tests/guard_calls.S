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
 *
 * At the call of target:
 *
 *        +----------------+
 *   esp  | args[0]        |
 *        | ...            |
 *        | args[count-1]  |
 *        +----------------+
 *        | edi            |  <- CallSavedEsp, CFA - 20
 *        | esi            |  CFA - 16
 *        | ebx            |  CFA - 12
 *        | ebp            |  CFA - 8
 *        | return         |  CFA - 4
 *        | target ...     |  <- CFA
 *
 * While the target runs, no unwind rule can be given: count words, a number
 * the unwind tables cannot know, lie between esp and the saved registers,
 * and every register the target keeps holds a test's value. The return
 * address is marked undefined there, so that an unwinder stops at this
 * frame instead of walking a wrong one; no test throws through it.
 */
        .text
        .globl _CallWithRegisters
        .p2align 4
_CallWithRegisters:
        .cfi_startproc
        pushl %ebp                      /* the C caller's registers */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebp, 0
        pushl %ebx
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebx, 0
        pushl %esi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %esi, 0
        pushl %edi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %edi, 0
        movl 20(%esp), %eax             /* target */
        movl %eax, CallTarget
        movl 32(%esp), %eax             /* regs */
        movl %eax, CallRegs
        movl 24(%esp), %esi             /* args */
        movl 28(%esp), %ecx             /* count */
        movl %esp, _CallSavedEsp        /* where the saved registers begin */
        .cfi_undefined %eip             /* count words follow: no rule from here */
1:      jecxz 2f                        /* all pushed? */
        pushl -4(%esi,%ecx,4)           /* the last argument first */
        decl %ecx
        jmp 1b
2:      movl CallRegs, %eax             /* the test's registers */
        movl 4(%eax), %ecx
        movl 8(%eax), %edx
        movl 12(%eax), %ebx
        movl 16(%eax), %esi
        movl 20(%eax), %edi
        movl 24(%eax), %ebp
        movl 0(%eax), %eax
        call *CallTarget
        pushl %eax                      /* free a register to store through */
        movl CallRegs, %eax             /* the registers as the target left them */
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
        movl _CallSavedEsp, %esp        /* whatever the target did */
        .cfi_offset %eip, -4            /* CFA = esp + 20 again, the return at CFA - 4 */
        popl %edi                       /* the C caller's registers back */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %edi
        popl %esi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %esi
        popl %ebx
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebx
        popl %ebp
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebp
        xorl %eax, %eax                 /* no fault */
        ret
        .cfi_endproc

/*
 * Where a recovered fault resumes: the fault handler sets esp to
 * _CallSavedEsp and eip here, so on entry the stack is CallWithRegisters'
 * after its four pushes (pictured above): CFA = esp + 20.
 */
        .globl _CallRecover
_CallRecover:
        .cfi_startproc
        .cfi_def_cfa_offset 20
        .cfi_offset %edi, -20
        .cfi_offset %esi, -16
        .cfi_offset %ebx, -12
        .cfi_offset %ebp, -8
        movl _CallSavedEsp, %esp        /* as the handler set it already */
        popl %edi                       /* the C caller's registers back */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %edi
        popl %esi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %esi
        popl %ebx
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebx
        popl %ebp
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebp
        movl $1, %eax                   /* faulted */
        ret
        .cfi_endproc

/*
 * A stand-in that calls _FakeTarget with its caller's arguments and then
 * changes ecx and edx. It keeps its caller's return address in FakeReturn,
 * a place the unwind tables cannot name: from the pop to the final jump the
 * return address is marked undefined, so an unwinder stops here.
 *
 *   on entry:        esp -> return        after the pop:  esp -> arg 1 ...
 *                           arg 1 ...                     (return in FakeReturn)
 */
        .globl _ClobberOnReturn
        .p2align 4
_ClobberOnReturn:
        .cfi_startproc
        popl FakeReturn                 /* the arguments stay where they are */
        .cfi_adjust_cfa_offset -4       /* CFA = esp */
        .cfi_undefined %eip             /* the return address: in FakeReturn */
        call *_FakeTarget               /* which removes them */
        movl $0xBADC0C0C, %ecx          /* changed on return */
        movl $0xBADD0D0D, %edx
        jmp *FakeReturn                 /* back to the caller */
        .cfi_endproc

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
