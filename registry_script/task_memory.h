// Task memory for the registrar script interpreter: the replacement copies, the substituted
// script text and the parser's scratch buffers. The product uses the COM task allocator; the
// host build links an implementation of its own (tests count and fail allocations with it).
//
// TaskBuffer owns one block of it. The interpreter's core also builds natively, where
// runtime/owner.h (which needs windows.h) is not available, so this owner lives beside the
// allocator it frees to; it keeps the runtime owner's contract (closes once, moves, no copies,
// get/reset/release).
#pragma once

#include <stddef.h>

#ifdef _WIN32
#include <objbase.h>

inline void* TaskMemAlloc(size_t size) { return CoTaskMemAlloc(size); }
inline void* TaskMemRealloc(void* block, size_t size) { return CoTaskMemRealloc(block, size); }
inline void TaskMemFree(void* block) { CoTaskMemFree(block); }
#else
void* TaskMemAlloc(size_t size);
void* TaskMemRealloc(void* block, size_t size);
void TaskMemFree(void* block);
#endif

template <typename T>
class TaskBuffer {
public:
    TaskBuffer() : block_(nullptr) {}
    explicit TaskBuffer(T* block) : block_(block) {}
    // A new block of count elements; empty when it cannot be allocated.
    static TaskBuffer Allocate(size_t count) { return TaskBuffer(static_cast<T*>(TaskMemAlloc(count * sizeof(T)))); }
    ~TaskBuffer() { reset(); }
    TaskBuffer(TaskBuffer&& other) : block_(other.release()) {}
    TaskBuffer& operator=(TaskBuffer&& other) {
        if (this != &other) reset(other.release());
        return *this;
    }
    TaskBuffer(const TaskBuffer&) = delete;
    TaskBuffer& operator=(const TaskBuffer&) = delete;

    T* get() const { return block_; }
    bool valid() const { return block_ != nullptr; }
    explicit operator bool() const { return valid(); }

    T* release() {
        T* block = block_;
        block_ = nullptr;
        return block;
    }
    void reset(T* block = nullptr) {
        T* old = block_;
        block_ = block;
        if (old && old != block) TaskMemFree(old);
    }
    // Grows or shrinks the block to count elements; on failure the block stays as it was.
    bool Resize(size_t count) {
        T* resized = static_cast<T*>(TaskMemRealloc(block_, count * sizeof(T)));
        if (!resized) return false;
        block_ = resized;
        return true;
    }

private:
    T* block_;
};
