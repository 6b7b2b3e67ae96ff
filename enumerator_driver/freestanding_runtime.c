/* The little of a C runtime that the freestanding driver needs: GCC emits calls to memcpy and
 * memset for block copies and clears even with -fno-builtin, and no library provides them in
 * ring 0. */
#include <stddef.h>
#include <stdint.h>

void* memcpy(void* destination, const void* source, size_t count) {
    uint8_t* to = (uint8_t*)destination;
    const uint8_t* from = (const uint8_t*)source;
    while (count--) *to++ = *from++;
    return destination;
}

void* memset(void* destination, int value, size_t count) {
    uint8_t* to = (uint8_t*)destination;
    while (count--) *to++ = (uint8_t)value;
    return destination;
}
