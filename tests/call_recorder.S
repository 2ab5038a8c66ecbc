/*
 * Recording entries for import slots: a test puts entry i into a slot and
 * the slot's old content into RecordedTargets[i]. A call through the slot
 * then appends i to RecordedCalls (up to RECORDED_MAX calls, counted in
 * RecordedCount) and goes on to the old content with every general register
 * and the stack as the caller left them; only the flags change.
 *
 *   in RecordingCommon, after the two pushes:
 *     esp -> saved ecx                   CFA - 16
 *            saved eax                   CFA - 12
 *            i, then the old content     CFA - 8   <- ret takes it from here
 *            the caller's return address CFA - 4
 *            the caller's arguments      <- CFA
 *
 * The caller's return address stays at CFA - 4 all the way; the word above
 * it is no return address of this frame, only where the final ret goes, so
 * that the old content runs as if the caller had called it.
 */
#define RECORDING_ENTRIES 256
#define RECORDED_MAX 1024

        .text
        .globl _RecordingEntries
        .balign 16
_RecordingEntries:
        .set index, 0
        .rept RECORDING_ENTRIES
        .balign 16
        .cfi_startproc
        pushl $index                    /* which slot was called */
        .cfi_adjust_cfa_offset 4
        jmp RecordingCommon             /* on with i on top */
        .cfi_endproc
        .set index, index + 1
        .endr

RecordingCommon:
        .cfi_startproc
        .cfi_def_cfa_offset 8           /* i above the caller's return address */
        pushl %eax                      /* the caller's eax and ecx, kept */
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %eax, 0
        pushl %ecx
        .cfi_adjust_cfa_offset 4
        .cfi_rel_offset %ecx, 0
        movl 8(%esp), %eax              /* i */
        movl _RecordedCount, %ecx       /* calls noted so far */
        cmpl $RECORDED_MAX, %ecx
        jae 1f                          /* the record is full: not noted */
        movl %eax, _RecordedCalls(,%ecx,4) /* note i */
        incl %ecx
        movl %ecx, _RecordedCount
1:      movl _RecordedTargets(,%eax,4), %eax /* the slot's old content */
        movl %eax, 8(%esp)              /* i's place: the old content */
        popl %ecx                       /* the caller's ecx and eax back */
        .cfi_adjust_cfa_offset -4
        .cfi_restore %ecx
        popl %eax
        .cfi_adjust_cfa_offset -4
        .cfi_restore %eax
        ret                             /* into the old content, as if called from the caller */
        .cfi_endproc

        .bss
        .balign 4
        .globl _RecordedTargets, _RecordedCalls, _RecordedCount
_RecordedTargets:
        .space 4 * RECORDING_ENTRIES
_RecordedCalls:
        .space 4 * RECORDED_MAX
_RecordedCount:
        .space 4
