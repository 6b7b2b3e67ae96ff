// Task memory for the registrar script interpreter: the replacement copies and the
// substituted script text. The product uses the COM task allocator; the host build links an
// implementation of its own (tests count and fail allocations with it).
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
