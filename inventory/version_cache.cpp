#include "version_cache.h"

#include <string.h>

#include <utility>

#include "version_cache_image.h"

namespace {

// The first 13 bytes of a stamp as an entry stores them: its characters, then zero bytes.
void TakeCachedStamp(const char* stamp, char* cached) {
    memset(cached, 0, kCacheStampSize);
    for (uint32_t i = 0; i < kCacheStampSize && stamp[i]; ++i) cached[i] = stamp[i];
}

}  // namespace

VersionCache::VersionCache() : length_(0), dirty_(false) {}

void VersionCache::Adopt(HeapArray<BYTE> image, DWORD length) {
    // The value is shared, unlocked data of any type and content. Only its leading whole
    // entries are kept: the paths behind a damaged part miss, are read again and appended to an
    // image that is whole again when it is saved. Damage behind the last entry any row needs
    // would cause no miss, so it marks the image changed itself: the value is written back
    // whole even when every row is found in it.
    const DWORD whole = image ? WellFormedCacheLength(image.get(), length) : 0;
    if (whole < length) dirty_ = true;
    if (whole == 0) {
        image_.reset();
        length_ = 0;
        return;
    }
    image_ = std::move(image);
    length_ = whole;
}

int VersionCache::LookupVersionCache(DriverItem& row) const {
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(row.fullPath));
    const int32_t position = FindCachedPath(image_.get(), length_, row.fullPath, pathLength);
    if (position < 0) return 0;
    const BYTE* fields = image_.get() + position + pathLength;
    if (ReadCacheWord(fields + kCacheTimeHighOffset) != row.lastWriteHigh) return 0;
    if (ReadCacheWord(fields + kCacheTimeLowOffset) != row.lastWriteLow) return 0;
    memcpy(row.deviceName, fields + kCacheDeviceNameOffset, kCacheDeviceNameSize);
    memcpy(row.versionStamp, fields + kCacheStampOffset, kCacheStampSize);
    row.versionStamp[kCacheStampSize] = '\0';
    return 1;
}

void VersionCache::UpdateVersionCache(const DriverItem& row) {
    char cachedStamp[kCacheStampSize];
    TakeCachedStamp(row.versionStamp, cachedStamp);
    const BYTE* deviceName = reinterpret_cast<const BYTE*>(row.deviceName);
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(row.fullPath));
    const int32_t position = FindCachedPath(image_.get(), length_, row.fullPath, pathLength);
    if (position >= 0) {
        // The path is stored, with another time: its fields are rewritten in place.
        WriteCacheEntryFields(image_.get() + position + pathLength, deviceName, cachedStamp, row.lastWriteLow,
                              row.lastWriteHigh);
        dirty_ = true;
        return;
    }

    const uint32_t entryLength = pathLength + kCacheEntryOverhead;
    if (length_ > 0xFFFFFFFFu - entryLength) return;
    HeapArray<BYTE> grown(new BYTE[length_ + entryLength]);
    if (!grown) return;   // not recorded: the next run reads the file again
    if (length_) memcpy(grown.get(), image_.get(), length_);
    WriteCacheEntry(grown.get() + length_, row.fullPath, pathLength, deviceName, cachedStamp, row.lastWriteLow,
                    row.lastWriteHigh);
    image_ = std::move(grown);
    length_ += entryLength;
    dirty_ = true;
}
