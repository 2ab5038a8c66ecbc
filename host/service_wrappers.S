/*
 * The way into every numbered service of the stand-in host: HostQuery hands
 * out a wrapper entry, not the service itself, so that each call is checked
 * against the calling convention of the list of services
 * (hostapi/service_list.h, host/service_calls.cpp).
 *
 * Entry i (16 bytes apart, from _ServiceWrapperEntries) loads i into eax,
 * which no service takes anything in, and goes on to the common part:
 *
 *   at entry                    after "popl" and the call
 *   esp -> return address R     esp -> our return address   (in R's place)
 *          argument 1                  argument 1 ...
 *          ...
 *
 * The common part moves R into a frame of its own frame stack (calls nest:
 * a form's callback calls services while HostRunForm runs), with esp as it
 * is without R, and calls the service, which finds its arguments where the
 * caller put them. When the service returns, esp shows what it removed;
 * ServiceReturned (cdecl: frame, esp as the service left it) checks that
 * and the call site at R, and gives back R, to which the common part
 * returns with esp as the service left it. eax and edx, the service's
 * result, are kept across the check; so is a result on the x87 stack, as
 * the check does no floating-point work.
 *
 * The frame (host/service_wrappers.h gives its offsets):
 *
 *        +---------------------+
 *   ebx  | R                   |  +0
 *        | esp without R       |  +4   <- the CFA, the caller's esp at its call
 *        | index               |  +8
 *        | the caller's ebx    |  +12
 *        +---------------------+
 *
 * The common part keeps the frame's address in ebx, which the service
 * preserves, and the caller's ebx in the frame. For the unwinder, while the
 * service runs: CFA = [ebx + 4], the return address at [ebx + 0], the
 * caller's ebx at [ebx + 12] (DWARF expressions, written out below as
 * bytes: DW_CFA_expression 0x10, DW_CFA_def_cfa_expression 0x0f,
 * DW_OP_breg3 (ebx) 0x73, DW_OP_deref 0x06; eip is column 8, ebx 3). So an
 * exception thrown by a service travels on to the wrapper's caller as if
 * the caller had called the service itself; on its way it passes the
 * cleanup at ServiceUnwound, which gives the frame back, so that the frame
 * stack stays in step with the calls still running.
 */
#include "host/service_wrappers.h"

#define FRAME_RETURN TOLMAR_SERVICE_FRAME_RETURN
#define FRAME_ESP TOLMAR_SERVICE_FRAME_ESP
#define FRAME_INDEX TOLMAR_SERVICE_FRAME_INDEX
#define FRAME_EBX TOLMAR_SERVICE_FRAME_EBX

/*
 * The entries touch neither the stack nor a saved register: the frame
 * description every function starts with (CFA = esp + 4, the return address
 * at CFA - 4), one description for each entry.
 */
        .text
        .globl _ServiceWrapperEntries
        .balign 16
_ServiceWrapperEntries:
        .set index, 0
        .rept TOLMAR_SERVICE_WRAPPERS
        .balign 16
        .cfi_startproc
        movl $index, %eax               /* the service's place in the list */
        jmp ServiceWrapperCommon        /* nothing pushed: on as if called */
        .cfi_endproc
        .set index, index + 1
        .endr

        .balign 16
ServiceWrapperCommon:
        .cfi_startproc
        .cfi_personality 0, ___gcc_personality_v0 /* runs ServiceUnwound */
        .cfi_lsda 0, ServiceWrapperCleanups
        movl _ServiceFrameTop, %ecx     /* the next free frame */
        cmpl $ServiceFramesEnd, %ecx
        jae _ServiceFramesExhausted     /* ends the program; R still on top */
        movl %ebx, FRAME_EBX(%ecx)      /* frame.callerEbx */
        movl %ecx, %ebx                 /* ebx: the frame, kept by the service */
        .cfi_escape 0x10, 3, 2, 0x73, FRAME_EBX /* the caller's ebx at [ebx + 12] */
        popl FRAME_RETURN(%ebx)         /* frame.returnAddress = R */
        .cfi_def_cfa_offset 0           /* CFA = esp: R is gone from the stack ... */
        .cfi_escape 0x10, 8, 2, 0x73, FRAME_RETURN /* ... and lies at [ebx + 0] */
        movl %esp, FRAME_ESP(%ebx)      /* frame.espWithoutReturn */
        .cfi_escape 0x0f, 3, 0x73, FRAME_ESP, 0x06 /* CFA = [ebx + 4], whatever esp does */
        movl %eax, FRAME_INDEX(%ebx)    /* frame.index */
        leal TOLMAR_SERVICE_FRAME_SIZE(%ebx), %ecx
        movl %ecx, _ServiceFrameTop     /* the frame is taken */
ServiceCall:
        call *_ServiceTargets(,%eax,4)  /* the service, our return address in R's place */
ServiceCallEnd:
        pushl %edx                      /* the result, kept across the check */
        pushl %eax
        movl %ebx, _ServiceFrameTop     /* the frame is given back (its words stay) */
        leal 8(%esp), %edx              /* esp as the service left it */
        pushl %edx
        pushl %ebx                      /* the frame */
        call _ServiceReturned           /* checks; returns R */
        addl $8, %esp                   /* its two arguments */
        movl %eax, %ecx                 /* R */
        popl %eax                       /* the result back */
        popl %edx
        .cfi_remember_state
        pushl %ecx                      /* R on top, where ret takes it */
        .cfi_def_cfa %esp, 4            /* as at the end of any function: R at CFA - 4 */
        .cfi_offset %eip, -4
        movl FRAME_EBX(%ebx), %ebx      /* the caller's ebx */
        .cfi_restore %ebx
        ret                             /* to R, esp as the service left it */

/*
 * The cleanup of an exception that leaves the service. The unwinder comes
 * here with esp as at the call (CFA, the first argument on top), ebx the
 * frame, and eax the exception.
 */
ServiceUnwound:
        .cfi_restore_state
        movl %ebx, _ServiceFrameTop     /* the frame is given back */
        pushl %eax                      /* the exception ... */
        call __Unwind_Resume            /* ... on its way to the caller; does not return */
ServiceWrapperEnd:
        .cfi_endproc

/*
 * Its cleanup table: a landing pad for the call of the service, none for
 * the rest. Offsets are from the routine's start.
 */
        .section .gcc_except_table, "w"
ServiceWrapperCleanups:
        .byte 0xff                      /* landing pads: from the routine's start */
        .byte 0xff                      /* no type table: cleanups only */
        .byte 0x01                      /* call sites in uleb128 */
        .uleb128 2f - 1f
1:      .uleb128 0                      /* up to the service call: nothing to do */
        .uleb128 ServiceCall - ServiceWrapperCommon
        .uleb128 0
        .uleb128 0
        .uleb128 ServiceCall - ServiceWrapperCommon /* the service call */
        .uleb128 ServiceCallEnd - ServiceCall
        .uleb128 ServiceUnwound - ServiceWrapperCommon
        .uleb128 0                      /* a cleanup, no handler */
        .uleb128 ServiceCallEnd - ServiceWrapperCommon /* the rest: nothing to do */
        .uleb128 ServiceWrapperEnd - ServiceCallEnd
        .uleb128 0
        .uleb128 0
2:

        .bss
        .balign 16
ServiceFrames:
        .space TOLMAR_SERVICE_FRAME_SIZE * TOLMAR_SERVICE_FRAMES
ServiceFramesEnd:

        .data
        .balign 4
        .globl _ServiceFrameTop
_ServiceFrameTop:
        .long ServiceFrames
