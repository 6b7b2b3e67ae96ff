#include "version_cache_index.h"

#include <string.h>

namespace {

const uint32_t kSmallestCapacity = 16;

// FNV-1a over the path's bytes. Stored paths mostly share their directory and differ in the
// file name at the end, which this hash spreads as well as the rest.
uint32_t HashPath(const uint8_t* path, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) hash = (hash ^ path[i]) * 16777619u;
    return hash;
}

void PlaceSlot(CacheIndex* index, const CacheIndexSlot& slot) {
    const uint32_t mask = index->capacity - 1;
    uint32_t at = slot.hash & mask;
    while (index->slots[at].pathLength != 0) at = (at + 1) & mask;
    index->slots[at] = slot;
    ++index->count;
}

}   // namespace

uint32_t CacheIndexCapacityFor(uint32_t entries) {
    uint32_t capacity = kSmallestCapacity;
    while (capacity / 2 < entries) {
        if (capacity > 0x40000000u) return 0;
        capacity *= 2;
    }
    return capacity;
}

void ResetCacheIndex(CacheIndex* index, CacheIndexSlot* slots, uint32_t capacity) {
    index->slots = slots;
    index->capacity = slots ? capacity : 0;
    index->count = 0;
    if (index->capacity) memset(slots, 0, sizeof(CacheIndexSlot) * index->capacity);
}

bool CacheIndexHasRoom(const CacheIndex& index, uint32_t more) {
    return index.count <= index.capacity / 2 && more <= index.capacity / 2 - index.count;
}

int32_t FindIndexedPath(const CacheIndex& index, const uint8_t* image, const char* path, uint32_t pathLength) {
    if (index.count == 0 || !image || !path || pathLength == 0) return -1;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(path);
    const uint32_t hash = HashPath(bytes, pathLength);
    const uint32_t mask = index.capacity - 1;
    // At most half of the slots are in use, so every probe ends at a free slot.
    for (uint32_t at = hash & mask;; at = (at + 1) & mask) {
        const CacheIndexSlot& slot = index.slots[at];
        if (slot.pathLength == 0) return -1;
        if (slot.hash == hash && slot.pathLength == pathLength &&
            memcmp(image + slot.position, bytes, pathLength) == 0) {
            return static_cast<int32_t>(slot.position);
        }
    }
}

int IndexCacheEntry(CacheIndex* index, const uint8_t* image, uint32_t position, uint32_t pathLength) {
    if (!image || pathLength == 0 || !CacheIndexHasRoom(*index, 1)) return 0;
    if (position > static_cast<uint32_t>(INT32_MAX)) return 0;
    const CacheIndexSlot slot = {position, pathLength, HashPath(image + position, pathLength)};
    PlaceSlot(index, slot);
    return 1;
}

int MoveCacheIndex(const CacheIndex& from, CacheIndex* to) {
    if (!CacheIndexHasRoom(*to, from.count)) return 0;
    for (uint32_t at = 0; at < from.capacity; ++at) {
        if (from.slots[at].pathLength != 0) PlaceSlot(to, from.slots[at]);
    }
    return 1;
}
