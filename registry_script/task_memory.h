// Task memory for the registrar script interpreter: the replacement copies, the substituted
// script text and the parser's scratch buffers. The product uses the COM task allocator; the
// host build links an implementation of its own (tests count and fail allocations with it).
//
// TaskBuffer owns one block of it: the runtime's owner template (owner_template.h, free of
// the platform like the interpreter's core) on this allocator.
#pragma once

#include <stddef.h>

#include "owner_template.h"

#ifdef _WIN32
#include <objbase.h>

inline void* TaskMemAlloc(size_t size) {
    return CoTaskMemAlloc(size);
}
inline void* TaskMemRealloc(void* block, size_t size) {
    return CoTaskMemRealloc(block, size);
}
inline void TaskMemFree(void* block) {
    CoTaskMemFree(block);
}
#else
void* TaskMemAlloc(size_t size);
void* TaskMemRealloc(void* block, size_t size);
void TaskMemFree(void* block);
#endif

template <typename T>
struct TaskBufferTraits {
    using Value = T*;
    static T* Empty() { return nullptr; }
    static void Close(T* block) { TaskMemFree(block); }
};

template <typename T>
class TaskBuffer : public Owner<TaskBufferTraits<T>> {
public:
    TaskBuffer() {}
    explicit TaskBuffer(T* block) : Owner<TaskBufferTraits<T>>(block) {}
    // A new block of count elements; empty when it cannot be allocated.
    static TaskBuffer Allocate(size_t count) { return TaskBuffer(static_cast<T*>(TaskMemAlloc(count * sizeof(T)))); }

    // Grows or shrinks the block to count elements; on failure the block stays as it was.
    bool Resize(size_t count) {
        T* resized = static_cast<T*>(TaskMemRealloc(this->get(), count * sizeof(T)));
        if (!resized) return false;
        this->release();   // the old block is the resized one now, or was freed by the resize
        this->reset(resized);
        return true;
    }
};
