/*
 * Fallback stubs for host entries that the host lacks and the user chose to
 * ignore. Stub k returns 0 and removes 4 x k bytes of arguments, so that a
 * callee-cleans caller finds its stack as the real service would leave it.
 *
 * On entry (the caller called the entry's jump piece, which jumped here):
 *
 *        +----------------------+
 *   esp  | caller's return      |
 *   +4   | argument 1           |  \
 *   ...  | ...                  |   > 4 x k bytes, removed by ret $4k
 *   +4k  | argument k           |  /
 *        +----------------------+
 *
 *   xorl %eax, %eax       ; result 0
 *   ret  $4k              ; back to the caller, arguments gone (k = 0: plain ret)
 *
 * No other register and nothing else on the stack is touched.
 *
 * A service that returns a floating-point value hands it back on the x87
 * stack, not in eax; its fallback pushes 0.0 there as well, so that the
 * caller's fstp takes a zero and the x87 stack stays balanced:
 *
 *   fldz                  ; st(0) = 0.0
 *   xorl %eax, %eax
 *   ret  $4k
 */
        .macro STUB k
        .text
        .globl _FallbackStub\k
        .p2align 2
_FallbackStub\k:
        xorl %eax, %eax
        .if \k
        ret $4*\k
        .else
        ret
        .endif
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
        fldz
        xorl %eax, %eax
        ret $4*\k
        .endm

        REAL_STUB 3
