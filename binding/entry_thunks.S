/*
 * Entry thunks of the host's numbered services.
 *
 * The catalogue below is the one source of the 2,070 entries; for each entry
 * the ENTRY macro emits
 *   - the jump piece  _HostEntry_<n>[_2]: jmp *slot      (what callers call)
 *   - the first-call piece FirstCall_<n>[_2]            (what the slot holds at load)
 *   - the entry's slot EntrySlot_<n>[_2], in the slot table in .data, in
 *     catalogue order.
 *
 * The first-call piece, on entry (the caller called the jump piece, which
 * jumped here through the slot; nothing has moved since the caller's call):
 *
 *        +--------------------+
 *   esp  | caller's return    |  <- CFA - 4
 *        | caller's arguments |  <- CFA
 *
 * At the call of BindEntry:
 *
 *        +--------------------+
 *   esp  | number             |  +0    BindEntry's two arguments,
 *        | slot               |  +4    which it removes itself
 *        | edi                |  +8
 *        | esi                |  +12
 *        | ebp                |  +16
 *        | (esp, ignored)     |  +20
 *        | ebx                |  +24
 *        | edx                |  +28
 *        | ecx                |  +32
 *        | eax                |  +36
 *        | jump piece         |  +40   where the piece's final ret goes
 *        | caller's return    |  +44   <- CFA - 4
 *        | caller's arguments |  +48   <- CFA
 *
 * After popal the stack is as at the top of this picture with the jump
 * piece's address pushed on it; the ret pops it, and the jump piece goes on
 * through the slot that BindEntry wrote. So the service (or a fallback stub)
 * runs as if the caller had called it directly, and returns straight to the
 * caller.
 *
 * For the unwinder, one frame description covers both pieces: the return
 * address is the caller's, at CFA - 4, all the way through; the jump piece's
 * address pushed above it is no return address of this frame, only where its
 * ret goes. An exception raised while the entry binds (from HostQuery, or a
 * report) therefore unwinds from BindEntry through this frame straight into
 * the caller. The saved registers are described as well, so that a debugger
 * shows the caller's values while BindEntry runs.
 */
        .altmacro

        .macro ENTRY number, suffix
        .text
        .globl _HostEntry_\number\suffix
        .p2align 2
_HostEntry_\number\suffix:
        .cfi_startproc
        jmp *EntrySlot_\number\suffix      /* jump piece: on through the slot, nothing touched */
        .globl FirstCall_\number\suffix
FirstCall_\number\suffix:
        pushl $_HostEntry_\number\suffix   /* the final ret goes into the jump piece */
        .cfi_adjust_cfa_offset 4
        pushal                              /* all eight as the caller left them */
        .cfi_adjust_cfa_offset 32
        .cfi_rel_offset %edi, 0
        .cfi_rel_offset %esi, 4
        .cfi_rel_offset %ebp, 8
        .cfi_rel_offset %ebx, 16
        .cfi_rel_offset %edx, 20
        .cfi_rel_offset %ecx, 24
        .cfi_rel_offset %eax, 28
        pushl $EntrySlot_\number\suffix    /* BindEntry(number, slot) ... */
        .cfi_adjust_cfa_offset 4
        pushl $\number
        .cfi_adjust_cfa_offset 4
        call _BindEntry@8                   /* ... which removes its arguments */
        .cfi_adjust_cfa_offset -8
        popal                               /* every register back as the caller left it */
        .cfi_adjust_cfa_offset -32
        .cfi_restore %edi
        .cfi_restore %esi
        .cfi_restore %ebp
        .cfi_restore %ebx
        .cfi_restore %edx
        .cfi_restore %ecx
        .cfi_restore %eax
        ret                                 /* into the jump piece */
        .cfi_endproc
        .section .data$entryslots, "w"
        .globl EntrySlot_\number\suffix
EntrySlot_\number\suffix:
        .long FirstCall_\number\suffix     /* unbound until the first call */
        .endm

        /* A run of consecutive numbers, first to last. */
        .macro RUN first, last
        .set entry_n, \first
        .rept \last - \first + 1
        ENTRY %entry_n
        .set entry_n, entry_n + 1
        .endr
        .endm

        /* The second entry of a number that has two. */
        .macro TWIN number
        ENTRY \number, _2
        .endm

        /* One number of the hundred series: 100 x hundred + argument bytes (99: caller cleans). */
        .macro HUNDRED numbers:vararg
        .irp n, \numbers
        ENTRY \n
        .section .rdata$hundred, "dr"
        .long \n
        .endr
        .endm

        /* The numbers of the hundred series, for the fallback rule that
           reads argument bytes from the last two digits. */
        .section .rdata$hundred, "dr"
        .globl _HundredSeriesTable
        .p2align 2
_HundredSeriesTable:

        .section .data$entryslots, "w"
        .globl _EntrySlotTable
        .p2align 2
_EntrySlotTable:

        /* Consecutive series: 56 runs, 1,966 entries with the two twins. */
        RUN 20000, 20009
        RUN 20011, 20042
        RUN 20101, 20163
        RUN 20201, 20219
        RUN 20231, 20239
        RUN 20251, 20268
        RUN 20281, 20288
        RUN 20301, 20314
        RUN 20321, 20330
        RUN 20351, 20358
        RUN 20401, 20409
        RUN 20421, 20430
        RUN 20451, 20455
        RUN 20466, 20476
        RUN 20484, 20499
        RUN 20521, 20575
        RUN 20601, 20614
        RUN 20631, 20645
        RUN 20701, 20721
        RUN 20731, 20745
        RUN 20761, 20782
        RUN 20791, 20807
        RUN 20821, 20828
        RUN 20835, 20845
        RUN 20901, 20968
        RUN 20971, 20978
        RUN 20981, 21007
        RUN 21011, 21028
        RUN 21100, 21109
        RUN 21111, 21147
        RUN 21201, 21260
        RUN 21283, 21283
        TWIN 21283
        RUN 21284, 21291
        RUN 21293, 21294
        TWIN 21294
        RUN 21295, 21299
        RUN 21301, 21332
        RUN 21341, 21368
        RUN 21381, 21406
        RUN 21411, 21414
        RUN 21416, 21446
        RUN 21451, 21457
        RUN 21461, 21479
        RUN 21481, 21489
        RUN 21491, 21493
        RUN 21601, 21607
        RUN 21621, 21628
        RUN 21630, 21644
        RUN 21661, 21669
        RUN 21691, 21701
        RUN 37900, 37967
        RUN 38001, 38327
        RUN 38338, 38347
        RUN 38349, 38399
        RUN 38403, 38440
        RUN 41600, 41606
        RUN 50516, 50521
        RUN 51424, 51504
        RUN 52001, 52503

        /* Hundred series: 104 entries. */
        HUNDRED 30120, 30204, 30308, 30404, 30520, 30620, 30712, 30816, 30908, 31012
        HUNDRED 31120, 31208, 31308, 31412, 31516, 31608, 31708, 31908, 32008, 32108
        HUNDRED 32200, 32300, 32408, 32500, 32699, 32712, 32808, 32912, 33099, 33100
        HUNDRED 33200, 33304, 33408, 33599, 33600, 33700, 33800, 33904, 34004, 34199
        HUNDRED 34200, 34300, 34400, 34504, 34699, 34704, 34804, 34904, 35012, 35104
        HUNDRED 35204, 35304, 35412, 35504, 35616, 35799, 35816, 35916, 36008, 36116
        HUNDRED 36208, 36308, 36412, 36520, 36624, 36708, 36800, 36900, 37000, 37100
        HUNDRED 37208, 37304, 37404, 37504, 37600, 37700, 37800, 40004, 40104, 40212
        HUNDRED 40316, 40404, 40512, 40604, 40704, 40808, 40904, 41012, 41112, 41299
        HUNDRED 41312, 41416, 41524, 50148, 50204, 50376, 50612, 50704, 50800, 50904
        HUNDRED 51028, 51104, 51244, 51300

        .section .data$entryslots, "w"
        .globl _EntrySlotTableEnd
_EntrySlotTableEnd:

        .section .rdata$hundred, "dr"
        .globl _HundredSeriesTableEnd
_HundredSeriesTableEnd:
