/*
 * The three ways a call reaches a host service, in the build machine's own
 * 64-bit mode, for timing on a processor that cannot be asked to run 32-bit
 * code (see thunk_shapes_bench.cpp). Each loop pushes one argument and
 * calls; the service takes it off with ret $8, as a stdcall service does.
 *
 *   LoopThroughThunk:  call thunk; thunk: jmp *slot   (a bound entry thunk)
 *   LoopThroughImport: call *cell                     (an import cell)
 *   LoopDirect:        call service
 *
 * Each returns the sum of the service's results, so no call can be left out.
 *
 * When the service (or the thunk) is entered:
 *
 *        +---------------------+
 *   rsp  | return into the loop|  <- the service's CFA - 8
 *        | argument (rcx)      |  removed by the service's ret $8
 *        | the loop's caller's |  <- the loop's CFA - 8
 *        |   return            |
 *        +---------------------+  <- the loop's CFA
 */
        .text

        .macro LOOP name, call:vararg
        .globl \name
        .p2align 4
\name:
        .cfi_startproc
        mov %edi, %ecx                  /* the number of calls */
        xor %r8d, %r8d                  /* the sum */
        .p2align 4
1:      push %rcx                       /* the service's argument */
        .cfi_adjust_cfa_offset 8
        \call
        .cfi_adjust_cfa_offset -8       /* which the service removed */
        add %eax, %r8d                  /* its result into the sum */
        dec %ecx
        jnz 1b
        mov %r8d, %eax                  /* the sum */
        ret
        .cfi_endproc
        .endm

        LOOP LoopThroughThunk, call thunk
        LOOP LoopThroughImport, call *cell(%rip)
        LOOP LoopDirect, call service

        .p2align 2
thunk:  .cfi_startproc
        jmp *slot(%rip)                 /* on through the slot, nothing touched */
        .cfi_endproc

        .p2align 4
service:
        .cfi_startproc
        mov 8(%rsp), %eax               /* the argument */
        add $1, %eax                    /* result: argument + 1 */
        ret $8                          /* the argument removed */
        .cfi_endproc

        .data
        .p2align 3
slot:   .quad service
cell:   .quad service

        .section .note.GNU-stack, "", @progbits
