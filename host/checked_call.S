/*
 * CheckedCall(target, arguments, count), cdecl: calls target with count
 * 32-bit argument words (arguments[0] first, at the lowest address) and
 * returns its eax. On the way back it stores in CheckedCallRemoved how many
 * bytes the target removed from the stack, and in CheckedCallX87 how many
 * values it left on the x87 stack (its TOP before, less TOP after, modulo 8).
 * What it keeps across the call lives in registers that the target must
 * preserve, so checked calls may nest: the table handler runs a form, whose
 * callbacks the form engine calls through here too.
 *
 * CheckedCallReal(target, arguments, count, result), cdecl: the same for a
 * target with a floating-point result, which it pops from the x87 stack
 * into the double at result when the target left one there.
 *
 * On entry:
 *
 *        +-----------------+
 *   esp  | our return      |  <- CFA - 4
 *        | target          |  <- CFA
 *        | arguments       |  CFA + 4
 *        | count           |  CFA + 8
 *        | (result)        |  CFA + 12, CheckedCallReal's only
 *
 * At the call of the target:
 *
 *        +-----------------+
 *   esp  | arguments[0]    |  the target's arguments, count words
 *        | ...             |
 *        | arguments[n-1]  |
 *        | result, or 0    |  ebp - 4
 *   ebp  | ebp             |  CFA - 20
 *        | esi             |  CFA - 16
 *        | edi             |  CFA - 12
 *        | ebx             |  CFA - 8
 *        | our return      |  CFA - 4
 *        | target ...      |  <- CFA
 *
 * The frame is described from ebp (CFA = ebp + 20) while the arguments go
 * on and come off, so an exception thrown by the target travels through
 * here to CheckedCall's caller, with the four saved registers restored.
 * The two entry points share the description: neither moves esp before
 * the common part.
 */
        .text
        .globl _CheckedCallReal
_CheckedCallReal:
        .cfi_startproc
        movl 16(%esp), %eax             /* result */
        jmp 0f

        .globl _CheckedCall
_CheckedCall:
        xorl %eax, %eax                 /* no result to pop */
0:      pushl %ebx                      /* the C caller's registers */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebx, 0
        pushl %edi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %edi, 0
        pushl %esi
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %esi, 0
        pushl %ebp
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ebp, 0
        movl %esp, %ebp                 /* esp before the arguments */
        .cfi_def_cfa_register %ebp      /* CFA = ebp + 20 from here */
        pushl %eax                      /* -4(%ebp): where a result goes */
        movl 20(%ebp), %ebx             /* target */
        movl 24(%ebp), %esi             /* arguments */
        movl 28(%ebp), %ecx             /* count */
1:      testl %ecx, %ecx                /* all pushed? */
        jz 2f
        pushl -4(%esi,%ecx,4)           /* the last argument first */
        decl %ecx
        jmp 1b
2:      fnstsw %ax                      /* TOP in bits 11 to 13 */
        movzwl %ax, %esi                /* kept by the target, so calls may nest */
        movl %esp, %edi                 /* esp at the call, less the return address */
        call *%ebx                      /* the target */
        movl %esp, %ecx                 /* esp as the target left it */
        subl %edi, %ecx
        movl %ecx, _CheckedCallRemoved  /* what the target removed */
        movl %eax, %ebx                 /* its result */
        fnstsw %ax                      /* TOP after the call */
        movl %esi, %ecx                 /* TOP before */
        shrw $11, %cx
        shrw $11, %ax
        subw %ax, %cx                   /* TOP falls by one per value pushed */
        andl $7, %ecx
        movl %ecx, _CheckedCallX87
        movl -4(%ebp), %edx             /* where a result goes, if anywhere */
        testl %edx, %edx
        jz 3f
        jecxz 3f                        /* nothing pushed: nothing to pop */
        fstpl (%edx)                    /* the top value, popped */
3:      movl %ebx, %eax                 /* the target's result */
        movl %ebp, %esp                 /* whatever the target did */
        .cfi_def_cfa_register %esp      /* CFA = esp + 20 */
        popl %ebp                       /* the C caller's registers back */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebp
        popl %esi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %esi
        popl %edi
        .cfi_adjust_cfa_offset -4
        .cfi_restore %edi
        popl %ebx
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ebx
        ret
        .cfi_endproc

        .bss
        .balign 4
        .globl _CheckedCallRemoved, _CheckedCallX87
_CheckedCallRemoved:
        .space 4
_CheckedCallX87:
        .space 4
