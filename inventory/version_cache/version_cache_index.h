// The index of a cache image: full path -> position of its entry, so that a lookup costs one
// hash of the path instead of a walk over every entry before it. An open-addressing hash table
// with linear probing, at most half full. Its slots belong to the caller (the product takes
// them from its heap, where an allocation can fail; the native tests from a vector), and it
// only reads the image, whose entries hold the paths it compares.
//
// Nothing here touches the platform, so the index builds and runs natively.
#pragma once

#include <stdint.h>

struct CacheIndexSlot {
    uint32_t position;     // of the entry in the image
    uint32_t pathLength;   // 0: the slot is free (a stored path is never empty)
    uint32_t hash;         // of the path's bytes
};

struct CacheIndex {
    CacheIndexSlot* slots;   // `capacity` of them
    uint32_t capacity;       // a power of two, or 0 for an index without slots
    uint32_t count;          // slots in use
};

// The slot count for an index that holds `entries` entries at most half full: a power of two,
// at least 16. 0 when that many slots could not be addressed.
uint32_t CacheIndexCapacityFor(uint32_t entries);

// An empty index over `slots` (`capacity` slots, a power of two, or 0 with no slots).
void ResetCacheIndex(CacheIndex* index, CacheIndexSlot* slots, uint32_t capacity);

// Whether `more` entries can be added and the index stays at most half full.
bool CacheIndexHasRoom(const CacheIndex& index, uint32_t more);

// The position of the entry whose path is exactly these bytes, or -1.
int32_t FindIndexedPath(const CacheIndex& index, const uint8_t* image, const char* path, uint32_t pathLength);

// Indexes the entry at `position` whose path has `pathLength` bytes. The path must not be
// indexed yet. Returns 0 (and indexes nothing) when the index has no room or the entry lies
// beyond what a position can address.
int IndexCacheEntry(CacheIndex* index, const uint8_t* image, uint32_t position, uint32_t pathLength);

// Moves every entry of `from` into `to`, an index with room for them all (a larger one, when
// `from` is full). Returns 0, moving nothing, when `to` lacks the room.
int MoveCacheIndex(const CacheIndex& from, CacheIndex* to);
