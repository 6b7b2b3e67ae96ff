// Fuzz driver for the version cache image. Input: one byte n, n bytes of a path, then the
// image. Built with libFuzzer by the target version_cache_image_fuzzer (clang), and run on
// fixed inputs by version_cache_image_test.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "version_cache_image.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t pathLength = data[0];
    if (size < 1 + pathLength) return 0;
    const char* path = reinterpret_cast<const char*>(data + 1);
    // The image in a buffer of its own size, so that any read past it is caught.
    std::vector<uint8_t> image(data + 1 + pathLength, data + size);
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
    if (pathLength < 10 || memchr(path, 0, pathLength) || !DeviceNamesEndInZero(image.data(), wellFormed)) return 0;
    const uint8_t device[9] = {'D', 'E', 'V', 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> grown(image.begin(), image.begin() + wellFormed);
    grown.resize(wellFormed + pathLength + kCacheEntryOverhead);
    WriteCacheEntry(grown.data() + wellFormed, path, pathLength, device, "01.02.03.0004", 7, 8);
    const uint32_t grownLength = static_cast<uint32_t>(grown.size());
    Check(WellFormedCacheLength(grown.data(), grownLength) == grownLength);
    const int32_t again = FindCachedPath(grown.data(), grownLength, path, pathLength);
    Check(again == (found >= 0 ? found : static_cast<int32_t>(wellFormed)));
    return 0;
}
