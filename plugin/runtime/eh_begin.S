/* Linked first: marks the start of the module's .eh_frame for the runtime's
   frame registration. A label and no code, so no frame description of its
   own. */
        .section .eh_frame, "r"
        .globl _TolmarEhFrameBegin
_TolmarEhFrameBegin:
