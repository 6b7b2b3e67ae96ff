#include "version_cache_image.h"

#include <string.h>

namespace {

void PutCacheWord(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

}   // namespace

uint32_t ReadCacheWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint32_t MeasureCacheEntry(const uint8_t* image, uint32_t length, uint32_t start) {
    if (!image || start >= length || length - start <= kCacheEntryOverhead) return 0;
    // The longest path that leaves room for the fields; the first zero byte must lie within
    // the path's room and the device name field after it.
    const uint32_t room = length - start - kCacheEntryOverhead;
    const uint8_t* entry = image + start;
    const void* zero = memchr(entry, 0, room + kCacheDeviceNameSize);
    if (!zero) return 0;
    const uint32_t firstZero = static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - entry);
    const uint32_t longest = firstZero < room ? firstZero : room;
    const uint32_t shortest = firstZero > kCacheDeviceNameSize - 1 ? firstZero - (kCacheDeviceNameSize - 1) : 1;
    for (uint32_t pathLength = longest; pathLength >= shortest && pathLength > 0; --pathLength) {
        const uint8_t* tail = entry + pathLength + kCacheFieldsSize;
        if (tail[0] == 0 && tail[1] == 0) return pathLength;
    }
    return 0;
}

void WriteCacheEntryFields(uint8_t* fields, const uint8_t* deviceName, const char* stamp, uint32_t timeLow,
                           uint32_t timeHigh) {
    memcpy(fields + kCacheDeviceNameOffset, deviceName, kCacheDeviceNameSize);
    memcpy(fields + kCacheStampOffset, stamp, kCacheStampSize);
    PutCacheWord(fields + kCacheTimeLowOffset, timeLow);
    PutCacheWord(fields + kCacheTimeHighOffset, timeHigh);
}

void WriteCacheEntry(uint8_t* entry, const char* path, uint32_t pathLength, const uint8_t* deviceName,
                     const char* stamp, uint32_t timeLow, uint32_t timeHigh) {
    memcpy(entry, path, pathLength);
    WriteCacheEntryFields(entry + pathLength, deviceName, stamp, timeLow, timeHigh);
    entry[pathLength + kCacheFieldsSize] = 0;
    entry[pathLength + kCacheFieldsSize + 1] = 0;
}

uint32_t MergeCachePiece(uint8_t* image, uint32_t imageLength, uint32_t pieceLength, CacheIndex* index) {
    if (!image) return 0;
    const uint8_t* piece = image + imageLength;
    uint32_t kept = imageLength;
    for (uint32_t at = 0; at < pieceLength;) {
        const uint32_t pathLength = MeasureCacheEntry(piece, pieceLength, at);
        if (pathLength == 0) break;
        const uint32_t entryLength = pathLength + kCacheEntryOverhead;
        const char* path = reinterpret_cast<const char*>(piece + at);
        if (pathLength >= kCacheShortestPath && pathLength <= kCacheLongestPath &&
            FindIndexedPath(*index, image, path, pathLength) < 0) {
            // Down, never past bytes of the piece still to be read: `kept` trails `at`.
            memmove(image + kept, piece + at, entryLength);
            if (IndexCacheEntry(index, image, kept, pathLength)) kept += entryLength;
        }
        at += entryLength;
    }
    return kept;
}

uint32_t CountCacheEntries(const uint8_t* piece, uint32_t length) {
    uint32_t count = 0;
    for (uint32_t at = 0; at < length; ++count) {
        const uint32_t pathLength = MeasureCacheEntry(piece, length, at);
        if (pathLength == 0) break;
        at += pathLength + kCacheEntryOverhead;
    }
    return count;
}

uint32_t SplitCacheImage(const uint8_t* image, uint32_t length, uint32_t capacity, uint32_t* ends, uint32_t maxPieces) {
    uint32_t count = 0;
    uint32_t start = 0;
    while (count < maxPieces) {
        uint32_t end = start;
        while (end < length) {
            const uint32_t pathLength = MeasureCacheEntry(image, length, end);
            if (pathLength == 0 || pathLength + kCacheEntryOverhead > capacity - (end - start)) break;
            end += pathLength + kCacheEntryOverhead;
        }
        // Nothing more fits: the rest is empty, or not an entry, or an entry larger than a piece.
        if (end == start && count > 0) break;
        ends[count++] = end;
        if (end == start || end >= length) break;
        start = end;
    }
    return count;
}
