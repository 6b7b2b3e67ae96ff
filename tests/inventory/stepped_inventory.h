// An inventory whose steps the tests drive one at a time, on the tables alone, and whose rows
// and cache image they can read before compaction.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "driver_inventory.h"

class SteppedInventory : public DriverInventory {
public:
    SteppedInventory() : DriverInventory(TablesOnly()) {}
    using DriverInventory::AddItem;
    using DriverInventory::LoadVersionCache;
    using DriverInventory::LookupVersionCache;
    using DriverInventory::SaveVersionCache;
    using DriverInventory::ScanDriverFiles;
    using DriverInventory::UpdateVersionCache;

    // Run steps 3 to 6: load the cache, scan, a stamp for every row, save when changed.
    // Returns how many rows took their stamp from the cache.
    DWORD RunCacheSteps() {
        LoadVersionCache();
        ScanDriverFiles();
        DWORD hits = 0;
        for (DWORD row = 0; row < itemCount_; ++row) {
            if (LookupVersionCache(row)) ++hits;
            else UpdateVersionCache(row);
        }
        if (cacheDirty_) SaveVersionCache();
        return hits;
    }

    DWORD Count() const { return itemCount_; }
    DriverItem& Row(DWORD i) { return items_[i]; }
    bool Dirty() const { return cacheDirty_ != 0; }
    std::vector<uint8_t> CacheImage() const {
        return cacheImage_ ? std::vector<uint8_t>(cacheImage_, cacheImage_ + cacheLength_) : std::vector<uint8_t>();
    }
    // The first row with this full path (compared without regard to case), or -1.
    long FindRow(const std::string& path) const {
        for (DWORD i = 0; i < itemCount_; ++i) {
            if (lstrcmpiA(items_[i].fullPath, path.c_str()) == 0) return static_cast<long>(i);
        }
        return -1;
    }
};
