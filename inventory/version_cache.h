// VersionCache: per full path, the version stamp and device name of every driver file that an
// earlier run examined, with the file's last-write time at that run. It owns the cache image
// (the entries back to back, layout in version_cache_image.h) and answers lookups and updates
// in memory; version_cache_registry.h moves the image to and from the registry.
#pragma once

#include <windows.h>

#include "driver_item.h"
#include "owner.h"

class VersionCache {
public:
    VersionCache();
    VersionCache(const VersionCache&) = delete;
    VersionCache& operator=(const VersionCache&) = delete;

    // Takes the bytes of a stored image, `length` of them. The stored value is shared, unlocked
    // data of any type and content: only its leading whole entries are kept. The paths behind
    // a damaged part miss, are read again and recorded in an image that is whole again.
    void Adopt(HeapArray<BYTE> image, DWORD length);

    // A hit when the row's full path is stored with the row's last-write time: the row receives
    // the stored device name and stamp (at most 13 characters). Returns 1 for a hit, 0 for a
    // miss; the image does not change.
    int LookupVersionCache(DriverItem& row) const;

    // Records the row's device name, the first 13 characters of its stamp (an empty stamp too)
    // and its last-write time: in place when its path is stored, as a new entry at the end
    // otherwise. Marks the cache changed.
    void UpdateVersionCache(const DriverItem& row);

    // Whether an update changed the image since it was adopted: only then is it worth saving.
    bool Dirty() const { return dirty_; }
    const BYTE* Image() const { return image_.get(); }
    DWORD Length() const { return length_; }

private:
    HeapArray<BYTE> image_;
    DWORD length_;
    bool dirty_;
};
