/* What the enumerator logic needs from the system: the two list heads, a way to copy a
 * record or a name out of system memory, the critical section and the heap.
 *
 * System addresses are 32-bit values, as the records hold them: the driver reads them as
 * flat ring-0 addresses, a native test as handles into lists it built itself. The driver
 * implements these over the system's services (vxd_services.c); tests implement them over
 * lists built in memory. */
#ifndef BRANTOVIX_ENUMERATOR_PLATFORM_H
#define BRANTOVIX_ENUMERATOR_PLATFORM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t EnumeratorAddress;

/* Scratch memory from the system heap; null when none is left. */
void* EnumeratorAllocate(uint32_t size);
void EnumeratorFree(void* block);

void EnumeratorEnterCriticalSection(void);
void EnumeratorLeaveCriticalSection(void);

/* Heads of the loader's list of dynamically loaded devices (DeviceInfo records) and of the
 * chain of device descriptor blocks; 0 when the list is empty. */
EnumeratorAddress EnumeratorLoaderListHead(void);
EnumeratorAddress EnumeratorDeviceChainHead(void);

/* Copies count bytes of the record at source. */
void EnumeratorCopyRecord(void* destination, EnumeratorAddress source, uint32_t count);

/* Copies the zero-terminated string at source, up to and including its terminator, but
 * never more than limit bytes; never reads past the terminator. */
void EnumeratorCopyName(uint8_t* destination, EnumeratorAddress source, uint32_t limit);

#ifdef __cplusplus
}
#endif

#endif
