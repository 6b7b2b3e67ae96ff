// A version cache index over slots of its own, grown the way the cache grows its index: for the
// native tests and the fuzz driver of the cache image, which join pieces without a cache.
#pragma once

#include <stdint.h>

#include <vector>

#include "version_cache/version_cache_index.h"

struct OwnedCacheIndex {
    std::vector<CacheIndexSlot> slots;
    CacheIndex index;
    OwnedCacheIndex() { ResetCacheIndex(&index, nullptr, 0); }
    // Room for `more` entries; false when the index cannot grow that far or its entries could
    // not be moved into the larger slots.
    bool Reserve(uint32_t more) {
        if (CacheIndexHasRoom(index, more)) return true;
        const uint32_t capacity = CacheIndexCapacityFor(index.count + more);
        if (capacity == 0) return false;
        std::vector<CacheIndexSlot> grown(capacity);
        CacheIndex larger;
        ResetCacheIndex(&larger, grown.data(), capacity);
        if (MoveCacheIndex(index, &larger) != 1) return false;
        slots.swap(grown);
        index = larger;
        return true;
    }
};
