/* Tells whether this host's CPU mode runs 32-bit x86 user code: exit 0 when it does, 1 when
 * it does not. An i386 ELF that runs proves nothing (a binfmt emulator can run it while Wine
 * still cannot), so the probe far-jumps from this 64-bit process into the 32-bit user code
 * segment (selector 0x23, the one Wine's 32-bit processes run in) at a few bytes that store a
 * mark and then fault on a privileged instruction. A host that cannot run 32-bit code faults
 * at the jump itself and the mark is never stored. Either fault comes back as SIGSEGV, whose
 * handler the kernel enters in 64-bit mode. */
#define _GNU_SOURCE
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

static sigjmp_buf back;

static void on_fault(int signal_number) {
    (void)signal_number;
    siglongjmp(back, 1);
}

int main(void) {
    unsigned char* page =
        mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED) {
        perror("cpu_mode_probe: mmap");
        return 2;
    }
    const uint32_t mark_address = (uint32_t)(uintptr_t)(page + 0x800);
    /* mov dword [mark_address], 0x32323232 ; hlt */
    unsigned char code[] = {0xC7, 0x05, 0, 0, 0, 0, 0x32, 0x32, 0x32, 0x32, 0xF4};
    memcpy(code + 2, &mark_address, 4);
    memcpy(page, code, sizeof code);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_fault;
    sigaction(SIGSEGV, &action, NULL);
    sigaction(SIGBUS, &action, NULL);
    sigaction(SIGILL, &action, NULL);

    if (!sigsetjmp(back, 1)) {
        struct __attribute__((packed)) {
            uint32_t offset;
            uint16_t selector;
        } target = {(uint32_t)(uintptr_t)page, 0x23};
        __asm__ volatile("ljmpl *%0" : : "m"(target) : "memory");
    }
    uint32_t mark;
    memcpy(&mark, page + 0x800, 4);
    const int runs = mark == 0x32323232u;
    puts(runs ? "32-bit code runs" : "32-bit code does not run");
    return runs ? 0 : 1;
}
