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

const DWORD kSmallestImage = 4096;

}   // namespace

VersionCache::VersionCache() : length_(0), capacity_(0), pieceCount_(0), dirty_(false) {
    ResetCacheIndex(&index_, nullptr, 0);
}

// The image grows by doubling, so appending one entry per row costs no copy of the whole
// image per row.
bool VersionCache::ReserveImage(DWORD more) {
    if (more > 0xFFFFFFFFu - length_) return false;
    const DWORD needed = length_ + more;
    if (needed <= capacity_) return true;
    DWORD capacity = capacity_ < kSmallestImage ? kSmallestImage : capacity_;
    while (capacity < needed) capacity = capacity > 0x7FFFFFFFu ? needed : capacity * 2;
    HeapArray<BYTE> grown(new BYTE[capacity]);
    if (!grown) return false;
    if (length_) memcpy(grown.get(), image_.get(), length_);
    image_ = std::move(grown);
    capacity_ = capacity;
    return true;
}

bool VersionCache::ReserveIndex(DWORD more) {
    if (CacheIndexHasRoom(index_, more)) return true;
    if (more > 0xFFFFFFFFu - index_.count) return false;
    const uint32_t capacity = CacheIndexCapacityFor(index_.count + more);
    if (capacity == 0) return false;
    HeapArray<CacheIndexSlot> slots(new CacheIndexSlot[capacity]);
    if (!slots) return false;
    CacheIndex grown;
    ResetCacheIndex(&grown, slots.get(), capacity);
    if (!MoveCacheIndex(index_, &grown)) return false;
    slots_ = std::move(slots);
    index_ = grown;
    return true;
}

BYTE* VersionCache::PieceRoom(DWORD size) {
    return ReserveImage(size) ? image_.get() + length_ : nullptr;
}

void VersionCache::RecordPiece(DWORD start, DWORD end, bool whole) {
    if (pieceCount_ == kMaxPieces) return;
    pieces_[pieceCount_++] = {start, end, whole, false};
}

void VersionCache::AdoptPiece(DWORD stored) {
    if (!image_ || stored > capacity_ - length_) {
        MissPiece();
        return;
    }
    // Room in the index for every entry the piece may bring; short of it, the entries beyond
    // the room stay out and are read again.
    ReserveIndex(CountCacheEntries(image_.get() + length_, stored));
    const DWORD start = length_;
    length_ = MergeCachePiece(image_.get(), length_, stored, &index_);
    const bool whole = length_ - start == stored;
    RecordPiece(start, length_, whole);
    // The value is shared, unlocked data of any type and content. Only a piece's leading whole
    // entries are kept: the paths behind a damaged part miss, are read again and saved again.
    // Damage behind the last entry any row needs would cause no miss, so it marks the cache
    // changed itself: the piece is written back whole even when every row is found.
    if (!whole) dirty_ = true;
}

void VersionCache::MissPiece() {
    RecordPiece(length_, length_, false);
}

bool VersionCache::LookupVersionCache(DriverItem& row) const {
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(row.fullPath));
    const int32_t position = FindIndexedPath(index_, image_.get(), row.fullPath, pathLength);
    if (position < 0) return false;
    const BYTE* fields = image_.get() + position + pathLength;
    if (ReadCacheWord(fields + kCacheTimeHighOffset) != row.lastWriteHigh) return false;
    if (ReadCacheWord(fields + kCacheTimeLowOffset) != row.lastWriteLow) return false;
    memcpy(row.deviceName, fields + kCacheDeviceNameOffset, kCacheDeviceNameSize);
    memcpy(row.versionStamp, fields + kCacheStampOffset, kCacheStampSize);
    row.versionStamp[kCacheStampSize] = '\0';
    return true;
}

void VersionCache::UpdateVersionCache(const DriverItem& row) {
    char cachedStamp[kCacheStampSize];
    TakeCachedStamp(row.versionStamp, cachedStamp);
    const BYTE* deviceName = reinterpret_cast<const BYTE*>(row.deviceName);
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(row.fullPath));
    const int32_t position = FindIndexedPath(index_, image_.get(), row.fullPath, pathLength);
    if (position >= 0) {
        // The path is stored, with another time: its fields are rewritten in place, and the
        // piece it came from is stored no longer as it is now.
        WriteCacheEntryFields(image_.get() + position + pathLength, deviceName, cachedStamp, row.lastWriteLow,
                              row.lastWriteHigh);
        const DWORD at = static_cast<DWORD>(position);
        for (DWORD piece = 0; piece < pieceCount_; ++piece) {
            if (pieces_[piece].start <= at && at < pieces_[piece].end) pieces_[piece].changed = true;
        }
        dirty_ = true;
        return;
    }

    // A path no row can have, or one too short for the stored layout to tell where it ends,
    // is not recorded: the file is read again by every run.
    if (pathLength < kCacheShortestPath || pathLength > kCacheLongestPath) return;
    const uint32_t entryLength = pathLength + kCacheEntryOverhead;
    if (!ReserveImage(entryLength) || !ReserveIndex(1)) return;   // not recorded: read again next run
    WriteCacheEntry(image_.get() + length_, row.fullPath, pathLength, deviceName, cachedStamp, row.lastWriteLow,
                    row.lastWriteHigh);
    if (!IndexCacheEntry(&index_, image_.get(), length_, pathLength)) return;
    length_ += entryLength;
    dirty_ = true;
}

DWORD VersionCache::SplitIntoPieces(uint32_t* ends) const {
    return SplitCacheImage(image_.get(), length_, kPieceCapacity, ends, kMaxPieces);
}

bool VersionCache::PieceStored(DWORD piece, DWORD start, DWORD end) const {
    if (piece >= pieceCount_) return false;
    const LoadedPiece& loaded = pieces_[piece];
    return loaded.whole && !loaded.changed && loaded.start == start && loaded.end == end;
}
