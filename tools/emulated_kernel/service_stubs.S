/* Entry points of the emulated services. A patched dynamic-link call site calls one of
 * these through its slot. Each keeps the caller's registers and flags as the real service
 * does (the C-convention heap services give their result in EAX and, like the real ones,
 * leave ECX and EDX changed) and calls the kernel's C++ side with the cdecl convention.
 *
 * When the control procedure runs on a small stack of its own (_EmuCallOnStack), a service
 * keeps on that stack only what it saves of the caller (its flags and registers, 36 bytes)
 * and runs the C++ side on the host's stack, which _EmuHostStack then holds. */
        .intel_syntax noprefix

        .data
        .globl _EmuHostStack
_EmuHostStack:          .long 0         /* the host's stack while the driver runs on its own */
_EmuCallTarget:         .long 0
_EmuSavedFlags:         .long 0

        .text

/* After pushfd and pushad: EBX = the saved frame; continues on the host's stack when the
 * driver runs on a stack of its own, with the frame's address pushed there. */
.macro TO_HOST_STACK
        mov     ebx, esp
        mov     eax, dword ptr [_EmuHostStack]
        test    eax, eax
        jz      1f
        mov     esp, eax
1:
        push    ebx
.endm
/* Back to the saved frame (the C++ side's arguments removed first). */
.macro BACK_TO_FRAME
        pop     esp
.endm

/* Begin_Critical_Section: flags in ECX; changes nothing. */
        .globl _EmuStubBeginCriticalSection
_EmuStubBeginCriticalSection:
        pushfd
        pushad
        TO_HOST_STACK
        push    dword ptr [ebx + 24]    /* ECX */
        call    _EmuBeginCriticalSection
        add     esp, 4
        BACK_TO_FRAME
        popad
        popfd
        ret

/* End_Critical_Section: changes nothing. */
        .globl _EmuStubEndCriticalSection
_EmuStubEndCriticalSection:
        pushfd
        pushad
        TO_HOST_STACK
        call    _EmuEndCriticalSection
        BACK_TO_FRAME
        popad
        popfd
        ret

/* _HeapAllocate(nbytes, flags): C convention, result in EAX. */
        .globl _EmuStubHeapAllocate
_EmuStubHeapAllocate:
        pushfd
        pushad
        TO_HOST_STACK
        push    dword ptr [ebx + 44]    /* flags */
        push    dword ptr [ebx + 40]    /* nbytes */
        call    _EmuHeapAllocate
        add     esp, 8
        BACK_TO_FRAME
        mov     [esp + 28], eax         /* EAX of the pushad frame */
        mov     dword ptr [esp + 24], 0xCCCCCCCC  /* ECX: not kept by C services */
        mov     dword ptr [esp + 20], 0xDDDDDDDD  /* EDX */
        popad
        popfd
        ret

/* _HeapFree(address, flags): C convention. */
        .globl _EmuStubHeapFree
_EmuStubHeapFree:
        pushfd
        pushad
        TO_HOST_STACK
        push    dword ptr [ebx + 44]    /* flags */
        push    dword ptr [ebx + 40]    /* address */
        call    _EmuHeapFree
        add     esp, 8
        BACK_TO_FRAME
        mov     [esp + 28], eax
        mov     dword ptr [esp + 24], 0xCCCCCCCC
        mov     dword ptr [esp + 20], 0xDDDDDDDD
        popad
        popfd
        ret

/* VMM_GetDDBList: the first descriptor block in EAX. */
        .globl _EmuStubGetDdbList
_EmuStubGetDdbList:
        pushfd
        pushad
        TO_HOST_STACK
        call    _EmuGetDdbList
        BACK_TO_FRAME
        mov     [esp + 28], eax
        popad
        popfd
        ret

/* VXDLDR_GetDeviceList: the first DeviceInfo record in EAX. */
        .globl _EmuStubGetDeviceList
_EmuStubGetDeviceList:
        pushfd
        pushad
        TO_HOST_STACK
        call    _EmuGetDeviceList
        BACK_TO_FRAME
        mov     [esp + 28], eax
        popad
        popfd
        ret

/* A service the kernel does not provide: answers 0 in EAX. */
        .globl _EmuStubUnknown
_EmuStubUnknown:
        xor     eax, eax
        ret

/* uint32_t EmuCallWithRegisters(const void *procedure, Registers *registers):
 * loads EAX, EBX, ECX, EDX, ESI, EDI and EBP from *registers, calls the procedure, and
 * stores the registers and EFLAGS (taken at once after the call) back. */
        .globl _EmuCallWithRegisters
_EmuCallWithRegisters:
        push    ebp
        push    ebx
        push    esi
        push    edi
        mov     eax, [esp + 20]         /* procedure */
        mov     ecx, [esp + 24]         /* registers */
        push    ecx
        push    eax
        mov     ebx, [ecx + 4]
        mov     edx, [ecx + 12]
        mov     esi, [ecx + 16]
        mov     edi, [ecx + 20]
        mov     ebp, [ecx + 24]
        mov     eax, [ecx + 0]
        mov     ecx, [ecx + 8]
        call    dword ptr [esp]
        pushfd
        push    ecx
        mov     ecx, [esp + 12]         /* registers */
        mov     [ecx + 0], eax
        pop     eax
        mov     [ecx + 8], eax          /* ECX */
        mov     [ecx + 4], ebx
        mov     [ecx + 12], edx
        mov     [ecx + 16], esi
        mov     [ecx + 20], edi
        mov     [ecx + 24], ebp
        pop     eax
        mov     [ecx + 28], eax         /* EFLAGS */
        add     esp, 8
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret

/* uint32_t EmuCallOnStack(const void *procedure, Registers *registers, void *stackTop):
 * as EmuCallWithRegisters, with the procedure running on the stack that ends at stackTop.
 * The host's stack keeps the registers' address; _EmuHostStack holds it for the services. */
        .globl _EmuCallOnStack
_EmuCallOnStack:
        push    ebp
        push    ebx
        push    esi
        push    edi
        mov     eax, [esp + 20]         /* procedure */
        mov     ecx, [esp + 24]         /* registers */
        mov     edx, [esp + 28]         /* stack top */
        mov     [_EmuCallTarget], eax
        push    ecx
        mov     [_EmuHostStack], esp
        mov     esp, edx
        mov     ebx, [ecx + 4]
        mov     edx, [ecx + 12]
        mov     esi, [ecx + 16]
        mov     edi, [ecx + 20]
        mov     ebp, [ecx + 24]
        mov     eax, [ecx + 0]
        mov     ecx, [ecx + 8]
        call    dword ptr [_EmuCallTarget]
        pushfd
        pop     dword ptr [_EmuSavedFlags]
        mov     esp, [_EmuHostStack]
        mov     dword ptr [_EmuHostStack], 0
        push    ecx
        mov     ecx, [esp + 4]          /* registers */
        mov     [ecx + 0], eax
        pop     eax
        mov     [ecx + 8], eax          /* ECX */
        mov     [ecx + 4], ebx
        mov     [ecx + 12], edx
        mov     [ecx + 16], esi
        mov     [ecx + 20], edi
        mov     [ecx + 24], ebp
        mov     eax, [_EmuSavedFlags]
        mov     [ecx + 28], eax         /* EFLAGS */
        add     esp, 4
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret
