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
 *        | ebp                  |  <- savedEsp, CFA - 20
 *        | edi                  |  CFA - 16
 *        | esi                  |  CFA - 12
 *        | ebx                  |  CFA - 8
 *        | the C caller's return|  CFA - 4
 *        | target, count        |  <- CFA
 *
 * While the target runs, no unwind rule can be given: count words, a number
 * the unwind tables cannot know, lie between esp and the saved registers,
 * and every register the target keeps holds a test's value. The return
 * address is marked undefined there, so that an unwinder stops at this
 * frame instead of walking a wrong one; no test throws through it.
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
        .cfi_startproc
        movl $1, realResult             /* pop a floating-point result */
        jmp 0f

        .globl _CallWithRegisters
_CallWithRegisters:
        movl $0, realResult             /* no floating-point result */
0:      pushl %ebx                      /* the C caller's registers */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebx, 0
        pushl %esi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %esi, 0
        pushl %edi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %edi, 0
        pushl %ebp
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebp, 0
        movl 20(%esp), %eax             /* target */
        movl %eax, target
        movl 24(%esp), %ecx             /* count */
        movl %esp, savedEsp             /* where the saved registers begin */
        .cfi_undefined %eip             /* count words follow: no rule from here */
1:      jecxz 2f                        /* all pushed? */
        pushl $0xA5A5A5A5               /* one argument word */
        decl %ecx
        jmp 1b
2:      movl %esp, _CallerEspAtCall     /* esp at the call, less the return address */
        movl _CallerRegs+4, %ecx        /* the test's registers */
        movl _CallerRegs+8, %edx
        movl _CallerRegs+12, %ebx
        movl _CallerRegs+16, %esi
        movl _CallerRegs+20, %edi
        movl _CallerRegs+24, %ebp
        movl _CallerRegs+0, %eax
        call *target
        movl %esp, _CallerEspAfter      /* what the target removed shows here */
        movl %eax, _CallerEaxAfter      /* its result */
        cmpl $0, realResult
        je 3f
        fstpl _CallerRealAfter          /* its floating-point result, popped */
3:      movl savedEsp, %esp             /* whatever the target did */
        .cfi_offset %eip, -4            /* CFA = esp + 20 again, the return at CFA - 4 */
        popl %ebp                       /* the C caller's registers back */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebp
        popl %edi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %edi
        popl %esi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %esi
        popl %ebx
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebx
        ret
        .cfi_endproc

        .globl _RegisterProbe@4
_RegisterProbe@4:
        .cfi_startproc                  /* the stack untouched: CFA = esp + 4 throughout */
        movl %eax, _ProbeSeen+0         /* the registers as received */
        movl %ecx, _ProbeSeen+4
        movl %edx, _ProbeSeen+8
        movl %ebx, _ProbeSeen+12
        movl %esp, _ProbeSeen+16
        movl %ebp, _ProbeSeen+20
        movl %esi, _ProbeSeen+24
        movl %edi, _ProbeSeen+28
        movl 4(%esp), %eax              /* the argument */
        movl %eax, _ProbeSeen+32
        incl _ProbeSeen+36              /* calls */
        movl $0x600DF00D, %eax          /* the result */
        ret $4                          /* the argument removed */
        .cfi_endproc
