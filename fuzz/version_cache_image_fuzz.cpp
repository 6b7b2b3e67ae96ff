// Fuzz driver for the version cache's byte layer: the image, its index, joining and splitting
// pieces. Built with libFuzzer by the target version_cache_image_fuzzer (clang), and run on
// fixed inputs by version_cache_image_test.
//
// Entry point: LLVMFuzzerTestOneInput(data, size). Input format: one byte n, then n bytes of a
// path, then the bytes of an image (any length, any content). Inputs shorter than 1 + n
// bytes are ignored. The driver checks, on that one input:
//   - the walk from the image's start (cache_image_walk.h): a path found is a whole entry of
//     the well-formed part with exactly those bytes; appending a whole entry keeps the image
//     whole and makes the path findable;
//   - joining: the image read back as two pieces (cut in its middle), then the whole image
//     as a third piece and again as a fourth, gives whole entries, each path once (the fourth
//     piece adds nothing), and an index that finds the path exactly where the walk from the
//     joined image's start finds it;
//   - splitting: the joined image split into pieces of at most 33 + 64 * n bytes gives pieces
//     within that size, each well-formed alone, each as full as the next entry allows, ending
//     at the image's end or before an entry larger than a piece.
// Any failed check aborts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "cache_image_walk.h"
#include "cache_index_slots.h"
#include "version_cache/version_cache_image.h"
#include "version_cache/version_cache_index.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

bool DeviceNamesEndInZero(const uint8_t* image, uint32_t length) {
    for (uint32_t p = 0; p < length;) {
        const uint32_t pathLength = MeasureCacheEntry(image, length, p);
        if (pathLength < 10 || !memchr(image + p + pathLength, 0, kCacheDeviceNameSize)) return false;
        p += pathLength + kCacheEntryOverhead;
    }
    return true;
}

void CheckSearchAndAppend(const char* path, uint32_t pathLength, const std::vector<uint8_t>& image) {
    const uint32_t length = static_cast<uint32_t>(image.size());
    const uint32_t wellFormed = WellFormedCacheLength(image.data(), length);
    Check(wellFormed <= length);
    const int32_t found = FindCachedPath(image.data(), length, path, pathLength);
    if (found >= 0) {
        // A hit is a whole entry inside the well-formed part, with exactly the path's bytes.
        const uint32_t p = static_cast<uint32_t>(found);
        Check(p + pathLength + kCacheEntryOverhead <= wellFormed);
        Check(memcmp(image.data() + p, path, pathLength) == 0);
        Check(MeasureCacheEntry(image.data(), length, p) == pathLength);
        // The device name a hit hands to the row is a zero-terminated string.
        Check(memchr(image.data() + p + pathLength, 0, kCacheDeviceNameSize) != nullptr);
    }

    // Appending a whole entry to the well-formed part keeps it whole and makes the path
    // findable: at the new entry, or at the earlier entry that already held it. This holds for
    // images as the inventory writes them: paths longer than 9 bytes and a zero byte within
    // every device name field.
    if (pathLength < 10 || memchr(path, 0, pathLength) || !DeviceNamesEndInZero(image.data(), wellFormed)) return;
    const uint8_t device[9] = {'D', 'E', 'V', 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> grown(image.begin(), image.begin() + wellFormed);
    grown.resize(wellFormed + pathLength + kCacheEntryOverhead);
    WriteCacheEntry(grown.data() + wellFormed, path, pathLength, device, "01.02.03.0004", 7, 8);
    const uint32_t grownLength = static_cast<uint32_t>(grown.size());
    Check(WellFormedCacheLength(grown.data(), grownLength) == grownLength);
    const int32_t again = FindCachedPath(grown.data(), grownLength, path, pathLength);
    Check(again == (found >= 0 ? found : static_cast<int32_t>(wellFormed)));
}

// Joins `piece` behind the image's first `length` bytes, as the cache joins a piece it read.
uint32_t Join(std::vector<uint8_t>* image, uint32_t length, const uint8_t* piece, uint32_t pieceLength,
              OwnedCacheIndex* index) {
    image->resize(length + pieceLength);
    if (pieceLength) memcpy(image->data() + length, piece, pieceLength);
    Check(index->Reserve(CountCacheEntries(image->data() + length, pieceLength)));
    const uint32_t joined = MergeCachePiece(image->data(), length, pieceLength, &index->index);
    Check(joined <= length + pieceLength);
    image->resize(joined);
    return joined;
}

std::vector<uint8_t> CheckJoin(const char* path, uint32_t pathLength, const std::vector<uint8_t>& image) {
    const uint32_t length = static_cast<uint32_t>(image.size());
    const uint32_t half = length / 2;
    std::vector<uint8_t> joined;
    OwnedCacheIndex index;
    uint32_t joinedLength = Join(&joined, 0, image.data(), half, &index);
    joinedLength = Join(&joined, joinedLength, image.data() + half, length - half, &index);
    joinedLength = Join(&joined, joinedLength, image.data(), length, &index);
    const uint32_t entries = index.index.count;
    Check(Join(&joined, joinedLength, image.data(), length, &index) == joinedLength);
    Check(index.index.count == entries);

    // Whole entries of lengths a row can have, each path once: the walk meets as many entries
    // as the index holds, and each is indexed where the walk meets it.
    Check(WellFormedCacheLength(joined.data(), joinedLength) == joinedLength);
    Check(CountCacheEntries(joined.data(), joinedLength) == entries);
    for (uint32_t p = 0; p < joinedLength;) {
        const uint32_t entryPath = MeasureCacheEntry(joined.data(), joinedLength, p);
        Check(entryPath >= kCacheShortestPath && entryPath <= kCacheLongestPath);
        const char* stored = reinterpret_cast<const char*>(joined.data() + p);
        Check(FindIndexedPath(index.index, joined.data(), stored, entryPath) == static_cast<int32_t>(p));
        p += entryPath + kCacheEntryOverhead;
    }
    Check(FindIndexedPath(index.index, joined.data(), path, pathLength) ==
          FindCachedPath(joined.data(), joinedLength, path, pathLength));
    return joined;
}

void CheckSplit(uint32_t capacity, const std::vector<uint8_t>& image) {
    const uint32_t length = static_cast<uint32_t>(image.size());
    std::vector<uint32_t> ends(length / (kCacheShortestPath + kCacheEntryOverhead) + 1);
    const uint32_t count =
        SplitCacheImage(image.data(), length, capacity, ends.data(), static_cast<uint32_t>(ends.size()));
    Check(count >= 1 && count <= ends.size());
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; start = ends[i++]) {
        const uint32_t end = ends[i];
        Check(end >= start && end - start <= capacity);
        Check(WellFormedCacheLength(image.data() + start, end - start) == end - start);
        // As full as the next entry allows.
        if (end < length) {
            Check(end - start + MeasureCacheEntry(image.data(), length, end) + kCacheEntryOverhead > capacity);
        }
    }
    Check(start == length || MeasureCacheEntry(image.data(), length, start) + kCacheEntryOverhead > capacity);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t pathLength = data[0];
    if (size < 1 + pathLength) return 0;
    const char* path = reinterpret_cast<const char*>(data + 1);
    // The image in a buffer of its own size, so that any read past it is caught.
    const std::vector<uint8_t> image(data + 1 + pathLength, data + size);

    CheckSearchAndAppend(path, pathLength, image);
    const std::vector<uint8_t> joined = CheckJoin(path, pathLength, image);
    CheckSplit(kCacheEntryOverhead + 1 + 64 * pathLength, joined);
    return 0;
}
