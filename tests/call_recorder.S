/*
 * Recording entries for import slots: a test puts entry i into a slot and
 * the slot's old content into RecordedTargets[i]. A call through the slot
 * then appends i to RecordedCalls (up to RECORDED_MAX calls, counted in
 * RecordedCount) and goes on to the old content with every general register
 * and the stack as the caller left them; only the flags change.
 *
 *   in RecordingCommon, after the two pushes:
 *     esp -> saved ecx
 *            saved eax
 *            i, then the old content     <- ret takes it from here
 *            the caller's return address
 *            the caller's arguments
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
        pushl $index                    /* which slot was called */
        jmp RecordingCommon
        .set index, index + 1
        .endr

RecordingCommon:
        pushl %eax
        pushl %ecx
        movl 8(%esp), %eax              /* i */
        movl _RecordedCount, %ecx
        cmpl $RECORDED_MAX, %ecx
        jae 1f                          /* the record is full: not noted */
        movl %eax, _RecordedCalls(,%ecx,4)
        incl %ecx
        movl %ecx, _RecordedCount
1:      movl _RecordedTargets(,%eax,4), %eax
        movl %eax, 8(%esp)              /* i's place: the old content */
        popl %ecx
        popl %eax
        ret                             /* into the old content, as if called from the caller */

        .bss
        .balign 4
        .globl _RecordedTargets, _RecordedCalls, _RecordedCount
_RecordedTargets:
        .space 4 * RECORDING_ENTRIES
_RecordedCalls:
        .space 4 * RECORDED_MAX
_RecordedCount:
        .space 4
