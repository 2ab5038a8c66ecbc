/*
 * The machine-level pieces of the structured-exception translator
 * (plugin/se_translator.cpp): the head of the thread's handler chain, and the
 * trampoline that the chain's handler sends a faulting thread into.
 */

/*
 * Registration *SeChainHead(void), cdecl: the head of the calling thread's
 * chain of exception registrations, the first word of its thread block.
 */
        .text
        .globl _SeChainHead
        .p2align 4
_SeChainHead:
        .cfi_startproc
        movl %fs:0, %eax                /* the thread block's first word */
        ret
        .cfi_endproc

/*
 * void SeSetChainHead(Registration *head), cdecl: makes head the first
 * registration of the calling thread's chain. On entry:
 *
 *        +-----------------+
 *   esp  | caller's return |
 *        | head            |  esp + 4
 */
        .globl _SeSetChainHead
        .p2align 4
_SeSetChainHead:
        .cfi_startproc
        movl 4(%esp), %eax              /* head */
        movl %eax, %fs:0                /* the thread block's first word */
        ret
        .cfi_endproc

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
