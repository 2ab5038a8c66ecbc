/*
 * Entered from SeTranslationFrame's handler in place of the faulting
 * instruction, as if that instruction had called it:
 *
 *        +-----------------------------+
 *   esp  | faulting eip + 1 ("return") |
 *        | faulting frame's stack ...  |
 *
 * The CFI lets the unwinder step from here into the faulting frame, through
 * which the translator's exception then travels to its catch.
 */
        .text
        .globl _SeTrampoline
        .p2align 4
_SeTrampoline:
        .cfi_startproc
        pushl %ebp                      /* keep the faulting frame's ebp */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebp, 0
        movl %esp, %ebp
        .cfi_def_cfa_register %ebp
        andl $-16, %esp                 /* C code expects an aligned stack */
        call _SeRaiseTranslated         /* does not return */
        ud2
        .cfi_endproc
