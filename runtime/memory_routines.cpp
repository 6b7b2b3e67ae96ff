// The C library routines that the product calls and that the compiler emits calls to (structure
// copies and clears), defined here because Brantovix.dll links no C runtime library: the C
// runtime DLL is not part of Windows 95 as first shipped. Byte loops: the largest copy the
// product makes is a version cache image of some hundred kilobytes, once per growth.
//
// This file is compiled with -fno-tree-loop-distribute-patterns, without which the compiler
// would turn these loops back into calls to the functions they define.
#include <stddef.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
    unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count--) *to++ = *from++;
    return destination;
}

// Overlapping ranges: copies from the end when the destination lies above the source.
void* memmove(void* destination, const void* source, size_t count) {
    unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    if (to < from) {
        while (count--) *to++ = *from++;
    } else if (to > from) {
        to += count;
        from += count;
        while (count--) *--to = *--from;
    }
    return destination;
}

void* memset(void* destination, int value, size_t count) {
    unsigned char* to = static_cast<unsigned char*>(destination);
    while (count--) *to++ = static_cast<unsigned char>(value);
    return destination;
}

// Bytes compare as unsigned char, as the C library's do.
int memcmp(const void* first, const void* second, size_t count) {
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (; count; --count, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
    }
    return 0;
}

void* memchr(const void* block, int value, size_t count) {
    const unsigned char* at = static_cast<const unsigned char*>(block);
    for (; count; --count, ++at) {
        if (*at == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(at);
    }
    return nullptr;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return static_cast<size_t>(end - text);
}

size_t wcslen(const wchar_t* text) {
    const wchar_t* end = text;
    while (*end) ++end;
    return static_cast<size_t>(end - text);
}

}   // extern "C"
