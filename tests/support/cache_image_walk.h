// The cache image walked from its start, entry by entry, as the tests and the fuzz driver read
// it to check what the product wrote or found: the product itself looks paths up through the
// index (version_cache_index.h) and never walks a whole image. Also the one builder of entries
// for the tests that store a cache of their own, and the one decoder of stored entries: both
// lay out and read the bytes through the product's own layout (version_cache_image.h), never
// by offsets of their own and never by searching for a path's bytes (which may lie inside
// another entry).
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

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

// One entry as a test writes it or reads it back.
struct CacheEntryFields {
    std::string path;
    std::string stamp;                    // up to 13 characters
    uint32_t low = 0, high = 0;           // the last-write time
    std::string device = std::string();   // the device name field: up to 9 bytes, zero-filled
};

// The bytes of one entry (path, device name, the first 13 characters of the stamp, time), as
// the product lays it out.
inline std::vector<uint8_t> CacheEntryBytes(const CacheEntryFields& entry) {
    uint8_t device[9] = {};
    memcpy(device, entry.device.data(), entry.device.size() < 9 ? entry.device.size() : 9);
    char stamp[13] = {};
    memcpy(stamp, entry.stamp.data(), entry.stamp.size() < 13 ? entry.stamp.size() : 13);
    std::vector<uint8_t> bytes(entry.path.size() + kCacheEntryOverhead, 0xEE);
    WriteCacheEntry(bytes.data(), entry.path.data(), static_cast<uint32_t>(entry.path.size()), device, stamp, entry.low,
                    entry.high);
    return bytes;
}

// An image of these entries, in their order.
inline std::vector<uint8_t> CacheImageOf(const std::vector<CacheEntryFields>& entries) {
    std::vector<uint8_t> image;
    for (const CacheEntryFields& entry : entries) {
        const std::vector<uint8_t> bytes = CacheEntryBytes(entry);
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    return image;
}

// The leading whole entries of an image (or of one stored piece), decoded.
inline std::vector<CacheEntryFields> CacheEntriesOf(const uint8_t* image, uint32_t length) {
    std::vector<CacheEntryFields> entries;
    for (uint32_t at = 0; at < length;) {
        const uint32_t pathLength = MeasureCacheEntry(image, length, at);
        if (pathLength == 0) break;
        const uint8_t* fields = image + at + pathLength;
        const char* device = reinterpret_cast<const char*>(fields + kCacheDeviceNameOffset);
        const char* stamp = reinterpret_cast<const char*>(fields + kCacheStampOffset);
        CacheEntryFields entry;
        entry.path.assign(reinterpret_cast<const char*>(image + at), pathLength);
        entry.stamp.assign(stamp, strnlen(stamp, kCacheStampSize));
        entry.low = ReadCacheWord(fields + kCacheTimeLowOffset);
        entry.high = ReadCacheWord(fields + kCacheTimeHighOffset);
        entry.device.assign(device, strnlen(device, kCacheDeviceNameSize));
        entries.push_back(entry);
        at += pathLength + kCacheEntryOverhead;
    }
    return entries;
}

inline std::vector<CacheEntryFields> CacheEntriesOf(const std::vector<uint8_t>& image) {
    return CacheEntriesOf(image.data(), static_cast<uint32_t>(image.size()));
}
