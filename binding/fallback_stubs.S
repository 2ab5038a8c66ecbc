/*
 * Fallback stubs for host entries that the host lacks and the user chose to
 * ignore. Stub k returns 0 and removes 4 x k bytes of arguments, so that a
 * callee-cleans caller finds its stack as the real service would leave it.
 *
 * On entry (the caller called the entry's jump piece, which jumped here),
 * and all through the stub:
 *
 *        +----------------------+
 *   esp  | caller's return      |  <- CFA - 4
 *   +4   | argument 1           |  <- CFA  \
 *   ...  | ...                  |            > 4 x k bytes, removed by ret $4k
 *   +4k  | argument k           |           /
 *        +----------------------+
 *
 * A stub clears eax and returns; no other register and nothing else on the
 * stack is touched, so its frame description is the one every function
 * starts with: the return address at CFA - 4, CFA = esp + 4, no register
 * saved.
 *
 * A service that returns a floating-point value hands it back on the x87
 * stack, not in eax; its fallback pushes 0.0 there as well, so that the
 * caller's fstp takes a zero and the x87 stack stays balanced.
 */
        .macro STUB k
        .text
        .globl _FallbackStub\k
        .p2align 2
_FallbackStub\k:
        .cfi_startproc
        xorl %eax, %eax                 /* result 0 */
        .if \k
        ret $4*\k                       /* back to the caller, its k arguments gone */
        .else
        ret                             /* back to the caller, who removes the arguments */
        .endif
        .cfi_endproc
        .section .rdata$fallback, "dr"
        .long _FallbackStub\k
        .endm

        .section .rdata$fallback, "dr"
        .globl _FallbackStubTable
        .p2align 2
_FallbackStubTable:
        STUB 0
        STUB 1
        STUB 2
        STUB 3
        STUB 4
        STUB 5
        STUB 6
        STUB 7
        STUB 8
        STUB 9
        STUB 10
        STUB 11
        STUB 12
        STUB 13
        STUB 14

        /* For the services that return a floating-point value, by the bytes
           they remove: HostScaleAmount takes a double and a 32-bit value. */
        .macro REAL_STUB k
        .text
        .globl _FallbackStubReal\k
        .p2align 2
_FallbackStubReal\k:
        .cfi_startproc
        fldz                            /* st(0) = 0.0, the result */
        xorl %eax, %eax                 /* and 0 in eax as well */
        ret $4*\k                       /* back to the caller, its k arguments gone */
        .cfi_endproc
        .endm

        REAL_STUB 3
