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
 */
#include "host/service_wrappers.h"

        .text
        .globl _ServiceWrapperEntries
        .balign 16
_ServiceWrapperEntries:
        .set index, 0
        .rept TOLMAR_SERVICE_WRAPPERS
        .balign 16
        movl $index, %eax               /* the service's place in the list */
        jmp ServiceWrapperCommon
        .set index, index + 1
        .endr

ServiceWrapperCommon:
        movl _ServiceFrameTop, %ecx     /* the next free frame */
        cmpl $ServiceFramesEnd, %ecx
        jae _ServiceFramesExhausted     /* ends the program */
        popl 0(%ecx)                    /* frame.returnAddress = R */
        movl %esp, 4(%ecx)              /* frame.espWithoutReturn */
        movl %eax, 8(%ecx)              /* frame.index */
        addl $TOLMAR_SERVICE_FRAME_SIZE, %ecx
        movl %ecx, _ServiceFrameTop     /* the frame is taken */
        call *_ServiceTargets(,%eax,4)  /* the service, our return address in R's place */
        pushl %edx                      /* the result, kept across the check */
        pushl %eax
        movl _ServiceFrameTop, %ecx
        subl $TOLMAR_SERVICE_FRAME_SIZE, %ecx
        movl %ecx, _ServiceFrameTop     /* the frame is given back */
        leal 8(%esp), %edx              /* esp as the service left it */
        pushl %edx
        pushl %ecx
        call _ServiceReturned           /* checks; returns R */
        addl $8, %esp
        movl %eax, %ecx                 /* R */
        popl %eax                       /* the result back */
        popl %edx
        pushl %ecx
        ret                             /* to R, esp as the service left it */

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
