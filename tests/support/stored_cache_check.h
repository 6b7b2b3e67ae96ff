// The one check that the version cache stored in the registry is whole, as every test that
// leaves the product to save it states it: every piece that "DDB Pieces" names (or "DDB" alone
// when there is no sound count) is binary data of whole entries (cache_image_walk.h), and every
// entry of a file that is there now with the entry's last-write time carries what a version read
// of that file gives (its first 13 characters). An entry of a file that is gone or has another
// time now is stale: the next inventory reads the file again and never takes it. A piece that is
// missing loses its entries, which are read again too.
//
// Header-only: a test that includes it links brantovix_inventory (the version read).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cache_image_walk.h"
#include "driver_machine.h"
#include "registry_tree.h"
#include "version_cache/version_cache.h"
#include "version_stamp.h"

// One entry as stored: its path, stamp (up to 13 characters), time, and the piece holding it.
struct StoredCacheEntry {
    std::string path;
    std::string stamp;
    FILETIME lastWrite;
    std::string piece;
};

// The entries of every piece named, in order. Fails when a piece named is not whole entries of
// binary data; an absent cache key gives no entries.
inline ::testing::AssertionResult ReadStoredCache(std::vector<StoredCacheEntry>* entries) {
    entries->clear();
    std::vector<RegistryTreeValue> tree;
    if (!driver_fixtures::ReadCacheTree(&tree)) return ::testing::AssertionSuccess();
    DWORD pieces = 1;
    for (const auto& value : tree) {
        if (value.key.empty() && value.name == "DDB Pieces" && value.type == REG_DWORD && value.data.size() == 4) {
            const DWORD count = ReadCacheWord(value.data.data());
            if (count >= 1 && count <= VersionCache::kMaxPieces) pieces = count;
        }
    }
    for (DWORD piece = 0; piece < pieces; ++piece) {
        const std::string name = piece == 0 ? std::string("DDB") : "DDB" + std::to_string(piece);
        const std::string key = piece < 3 ? std::string() : "DDB" + std::to_string(piece - piece % 3);
        for (const auto& value : tree) {
            if (lstrcmpiA(value.key.c_str(), key.c_str()) != 0 || lstrcmpiA(value.name.c_str(), name.c_str()) != 0) {
                continue;
            }
            const std::string where = key.empty() ? name : key + "\\" + name;
            if (value.type != REG_BINARY) {
                return ::testing::AssertionFailure() << where << " has type " << value.type;
            }
            const uint8_t* image = value.data.data();
            const uint32_t length = static_cast<uint32_t>(value.data.size());
            if (WellFormedCacheLength(image, length) != length) {
                return ::testing::AssertionFailure() << where << " of " << length << " bytes ends in a partial entry";
            }
            for (const CacheEntryFields& fields : CacheEntriesOf(image, length)) {
                entries->push_back({fields.path, fields.stamp, {fields.low, fields.high}, where});
            }
        }
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult StoredCacheIsWhole() {
    std::vector<StoredCacheEntry> entries;
    const ::testing::AssertionResult read = ReadStoredCache(&entries);
    if (!read) return read;
    for (const StoredCacheEntry& entry : entries) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(entry.path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;   // gone: stale
        FindClose(search);
        if (found.ftLastWriteTime.dwLowDateTime != entry.lastWrite.dwLowDateTime ||
            found.ftLastWriteTime.dwHighDateTime != entry.lastWrite.dwHighDateTime) {
            continue;   // another time now: stale
        }
        char stamp[32];
        const StampRead result = ReadVersionStamp(entry.path.c_str(), stamp);
        // Not readable at this moment: nothing to compare with.
        if (result == StampRead::kNotNow || result == StampRead::kNoMemory) continue;
        const std::string expected = std::string(result == StampRead::kStamped ? stamp : "").substr(0, kCacheStampSize);
        if (entry.stamp != expected) {
            return ::testing::AssertionFailure()
                   << entry.piece << " gives " << entry.path << " the stamp \"" << entry.stamp
                   << "\" at its present time; a version read gives \"" << expected << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}
