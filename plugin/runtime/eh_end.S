/* Linked last (as an archive that the runtime pulls in by name): the zero
   word that ends the .eh_frame list. Data and no code, so no frame
   description of its own. */
        .section .eh_frame, "r"
        .globl _TolmarEhFrameEnd
_TolmarEhFrameEnd:
        .long 0
