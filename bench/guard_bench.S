/*
 * Guards over functions that do nothing, made by the DLL's own guard macro,
 * so that the bench measures the guard and little else. The functions touch
 * no stack but their own return address and arguments:
 *
 *        +-----------------+
 *   esp  | caller's return |  <- CFA - 4
 *        | arg 1 .. arg N  |  <- CFA, removed by ret $4N
 *
 * The guards' own stack is pictured in api_guard.inc.
 */
#include "binding/api_guard.inc"

        .text
        .globl _Nop0, _Nop3, _Nop10
        .p2align 4
_Nop0:  .cfi_startproc                  /* the stack untouched: CFA = esp + 4 throughout */
        xorl %eax, %eax                 /* result 0 */
        ret                             /* the caller removes nothing */
        .cfi_endproc
        .p2align 4
_Nop3:  .cfi_startproc
        xorl %eax, %eax                 /* result 0 */
        ret $12                         /* three arguments removed */
        .cfi_endproc
        .p2align 4
_Nop10: .cfi_startproc
        xorl %eax, %eax                 /* result 0 */
        ret $40                         /* ten arguments removed */
        .cfi_endproc

        .data
        .p2align 2
Row0:   .long _Nop0
Row3:   .long _Nop3
Row10:  .long _Nop10

        .globl _Guard0, _Guard3, _Guard10
        API_GUARD _Guard0, Row0, 0
        API_GUARD _Guard3, Row3, 3
        API_GUARD _Guard10, Row10, 10
