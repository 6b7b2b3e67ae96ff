/* Register-level entry points of the enumerator driver.
 *
 * The system calls the control procedure with the message in EAX, the VM handle in EBX and,
 * for W32_DEVICEIOCONTROL, the request parameters in ESI; it reads the answer from EAX and
 * the carry flag. EnumeratorControlProcedure (vxd_control.c) does the work; this thunk
 * passes it the registers and turns its carry answer into the flag. */
        .intel_syntax noprefix
        .text

        .globl EnumeratorControlEntry
EnumeratorControlEntry:
        push    ecx
        push    edx
        push    0                       /* carry answer */
        mov     ecx, esp
        push    ecx                     /* &carry */
        push    esi                     /* DIOCParams */
        push    ebx                     /* VM handle */
        push    eax                     /* message */
        call    EnumeratorControlProcedure
        add     esp, 16
        pop     ecx
        neg     ecx                     /* CF = carry answer != 0 */
        pop     edx
        pop     ecx
        ret

/* V86 and protected-mode API entry points: the driver offers no API. */
        .globl EnumeratorApiEntry
EnumeratorApiEntry:
        ret

        .section .note.GNU-stack,"",@progbits
