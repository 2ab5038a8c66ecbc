/* Linked first: marks the start of the module's .eh_frame for the runtime's
   frame registration. */
        .section .eh_frame, "r"
        .globl _TolmarEhFrameBegin
_TolmarEhFrameBegin:
