// The cache image walked from its start, entry by entry, as the tests and the fuzz driver read
// it to check what the product wrote or found: the product itself looks paths up through the
// index (version_cache_index.h) and never walks a whole image.
#pragma once

#include <stdint.h>
#include <string.h>

#include "version_cache/version_cache_image.h"

// The length of the leading run of whole entries: the whole image when it is well formed,
// less when it ends in a truncated entry or in bytes that are not an entry.
inline uint32_t WellFormedCacheLength(const uint8_t* image, uint32_t length) {
    uint32_t position = 0;
    while (position < length) {
        const uint32_t pathLength = MeasureCacheEntry(image, length, position);
        if (pathLength == 0) break;
        position += pathLength + kCacheEntryOverhead;
    }
    return position;
}

// The position of the entry whose path is exactly the given `pathLength` bytes, or -1. Only
// entries reached by walking the image from its start are considered, so a path that is the
// leading part of another stored path, or that occurs inside another entry's bytes, is never
// found there; the walk stops at the first bytes that are not a whole entry.
inline int32_t FindCachedPath(const uint8_t* image, uint32_t length, const char* path, uint32_t pathLength) {
    if (!image || !path || pathLength == 0) return -1;
    uint32_t position = 0;
    while (position < length && position <= static_cast<uint32_t>(INT32_MAX)) {
        const uint32_t entryPathLength = MeasureCacheEntry(image, length, position);
        if (entryPathLength == 0) return -1;
        if (entryPathLength == pathLength && memcmp(image + position, path, pathLength) == 0) {
            return static_cast<int32_t>(position);
        }
        position += entryPathLength + kCacheEntryOverhead;
    }
    return -1;
}
