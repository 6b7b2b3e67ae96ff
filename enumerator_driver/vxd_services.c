/* The kernel services the enumerator logic reads the system through (enumerator_platform.h),
 * implemented over the virtual machine manager's and the dynamic device loader's services.
 * Each is reached through the dynamic link: int 20h followed by the 32-bit service
 * identifier, which the system patches into a call on first use. Records and names are read
 * from flat ring-0 addresses. */
#include <stdint.h>

#include "enumerator_platform.h"

/* Service identifiers: device ID in the high word, service number in the low word. */
#define VMM_BEGIN_CRITICAL_SECTION "0x0001001F"
#define VMM_END_CRITICAL_SECTION "0x00010020"
#define VMM_HEAP_ALLOCATE "0x0001004F"
#define VMM_HEAP_FREE "0x00010051"
#define VMM_GET_DDB_LIST "0x0001013F"
#define VXDLDR_GET_DEVICE_LIST "0x00270005"

void* EnumeratorAllocate(uint32_t size) {
    void* block;
    __asm__ volatile(
        "pushl $0\n\t"
        "pushl %1\n\t"
        "int $0x20\n\t"
        ".long " VMM_HEAP_ALLOCATE
        "\n\t"
        "addl $8, %%esp"
        : "=a"(block)
        : "r"(size)
        : "ecx", "edx", "memory", "cc");
    return block;
}

void EnumeratorFree(void* block) {
    uint32_t ignored;
    __asm__ volatile(
        "pushl $0\n\t"
        "pushl %1\n\t"
        "int $0x20\n\t"
        ".long " VMM_HEAP_FREE
        "\n\t"
        "addl $8, %%esp"
        : "=a"(ignored)
        : "r"(block)
        : "ecx", "edx", "memory", "cc");
}

void EnumeratorEnterCriticalSection(void) {
    __asm__ volatile(
        "int $0x20\n\t"
        ".long " VMM_BEGIN_CRITICAL_SECTION
        :
        : "c"(0)
        : "memory", "cc");
}

void EnumeratorLeaveCriticalSection(void) {
    __asm__ volatile(
        "int $0x20\n\t"
        ".long " VMM_END_CRITICAL_SECTION
        :
        :
        : "memory", "cc");
}

EnumeratorAddress EnumeratorLoaderListHead(void) {
    EnumeratorAddress head;
    __asm__ volatile(
        "int $0x20\n\t"
        ".long " VXDLDR_GET_DEVICE_LIST
        : "=a"(head)
        :
        : "ecx", "edx", "memory", "cc");
    return head;
}

EnumeratorAddress EnumeratorDeviceChainHead(void) {
    EnumeratorAddress head;
    __asm__ volatile(
        "int $0x20\n\t"
        ".long " VMM_GET_DDB_LIST
        : "=a"(head)
        :
        : "memory", "cc");
    return head;
}

void EnumeratorCopyRecord(void* destination, EnumeratorAddress source, uint32_t count) {
    const volatile uint8_t* from = (const volatile uint8_t*)source;
    uint8_t* to = (uint8_t*)destination;
    for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}

void EnumeratorCopyName(uint8_t* destination, EnumeratorAddress source, uint32_t limit) {
    const volatile uint8_t* from = (const volatile uint8_t*)source;
    for (uint32_t i = 0; i < limit; ++i) {
        destination[i] = from[i];
        if (!destination[i]) break;
    }
}
