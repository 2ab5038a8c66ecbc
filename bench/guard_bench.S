/*
 * Guards over functions that do nothing, made by the DLL's own guard macro,
 * so that the bench measures the guard and little else.
 */
#include "binding/api_guard.inc"

        .text
        .globl _Nop0, _Nop3, _Nop10
        .p2align 4
_Nop0:  xorl %eax, %eax
        ret
        .p2align 4
_Nop3:  xorl %eax, %eax
        ret $12
        .p2align 4
_Nop10: xorl %eax, %eax
        ret $40

        .data
        .p2align 2
Row0:   .long _Nop0
Row3:   .long _Nop3
Row10:  .long _Nop10

        .globl _Guard0, _Guard3, _Guard10
        API_GUARD _Guard0, Row0, 0
        API_GUARD _Guard3, Row3, 3
        API_GUARD _Guard10, Row10, 10
