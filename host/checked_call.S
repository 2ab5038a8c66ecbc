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
 *   after the pushes:  esp -> arguments[0] ... arguments[count-1]
 *                             result, or 0 for CheckedCall
 *                      ebp -> saved ebp, esi, edi, ebx
 *                             our return address, target, arguments, count
 *                             (result)
 */
        .text
        .globl _CheckedCallReal
_CheckedCallReal:
        movl 16(%esp), %eax             /* result */
        jmp 0f

        .globl _CheckedCall
_CheckedCall:
        xorl %eax, %eax                 /* no result to pop */
0:      pushl %ebx
        pushl %edi
        pushl %esi
        pushl %ebp
        movl %esp, %ebp                 /* esp before the arguments */
        pushl %eax                      /* -4(%ebp): where a result goes */
        movl 20(%ebp), %ebx             /* target */
        movl 24(%ebp), %esi             /* arguments */
        movl 28(%ebp), %ecx             /* count */
1:      testl %ecx, %ecx
        jz 2f
        pushl -4(%esi,%ecx,4)           /* the last argument first */
        decl %ecx
        jmp 1b
2:      fnstsw %ax                      /* TOP in bits 11 to 13 */
        movzwl %ax, %esi                /* kept by the target, so calls may nest */
        movl %esp, %edi                 /* esp at the call, less the return address */
        call *%ebx
        movl %esp, %ecx
        subl %edi, %ecx
        movl %ecx, _CheckedCallRemoved  /* what the target removed */
        movl %eax, %ebx                 /* its result */
        fnstsw %ax
        movl %esi, %ecx
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
3:      movl %ebx, %eax
        movl %ebp, %esp                 /* whatever the target did */
        popl %ebp
        popl %esi
        popl %edi
        popl %ebx
        ret

        .bss
        .balign 4
        .globl _CheckedCallRemoved, _CheckedCallX87
_CheckedCallRemoved:
        .space 4
_CheckedCallX87:
        .space 4
