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
 */
        .text

        .macro LOOP name, call:vararg
        .globl \name
        .p2align 4
\name:
        mov %edi, %ecx
        xor %r8d, %r8d
        .p2align 4
1:      push %rcx
        \call
        add %eax, %r8d
        dec %ecx
        jnz 1b
        mov %r8d, %eax
        ret
        .endm

        LOOP LoopThroughThunk, call thunk
        LOOP LoopThroughImport, call *cell(%rip)
        LOOP LoopDirect, call service

        .p2align 2
thunk:  jmp *slot(%rip)

        .p2align 4
service:
        mov 8(%rsp), %eax
        add $1, %eax
        ret $8

        .data
        .p2align 3
slot:   .quad service
cell:   .quad service

        .section .note.GNU-stack, "", @progbits
