// The product's allocation operators: the process heap, and null instead of an exception when
// memory runs out (the product is built without exceptions and with -fcheck-new, so every
// new-expression tests its result). The heap functions are kernel32's: Brantovix.dll links no C
// runtime DLL, which Windows 95 as first shipped does not have.
#include <windows.h>

#include <new>

namespace {

void* Allocate(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void Free(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

}   // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Free(block);
}
void operator delete[](void* block) noexcept {
    Free(block);
}
void operator delete(void* block, size_t) noexcept {
    Free(block);
}
void operator delete[](void* block, size_t) noexcept {
    Free(block);
}
