// The machine side of inventory tests and the benchmark: the three driver directories as the
// inventory forms them, driver files placed there with chosen last-write times and removed
// again, a bare listing of the same directories and patterns, and raw access to the version
// cache key.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "driver_directories.h"
#include "registry_tree.h"

namespace driver_fixtures {

extern const char kCacheKey[];   // under HKEY_LOCAL_MACHINE

// One file as a directory search reports it: scan directory, upper-case name, last-write time.
struct ListedFile {
    std::string directory;
    std::string name;
    FILETIME lastWrite;
};
// What the scan should find, searched independently: every directory in order, every pattern
// in order, entries in the order the search returns them.
std::vector<ListedFile> ListDriverFiles();

// Files and directories a test or the benchmark puts into the driver directories; all are
// removed when it goes (files first, then the directories it created).
class PlacedFiles {
public:
    PlacedFiles() = default;
    ~PlacedFiles();
    // Creates (or replaces) directory\name with `bytes` and sets its last-write time; creates
    // the directory when it is missing. Returns the full path, or "" on failure.
    std::string Place(const std::string& directory, const std::string& name, const std::vector<uint8_t>& bytes,
                      const FILETIME& lastWrite);
    bool EnsureDirectory(const std::string& directory);
    void RemoveAll();

private:
    std::vector<std::string> files_;
    std::vector<std::string> directories_;
    PlacedFiles(const PlacedFiles&) = delete;
    PlacedFiles& operator=(const PlacedFiles&) = delete;
};

// Raw registry values of the cache key. Read returns false when the key or value is absent.
bool ReadCacheValue(const char* name, std::vector<uint8_t>* bytes, DWORD* type = nullptr);
bool WriteCacheValue(const char* name, DWORD type, const std::vector<uint8_t>& bytes);
bool CacheKeyExists();
// Deletes the cache key with its values and the keys under it (the parents stay).
void DeleteCacheKey();

// Every value of the cache key and the keys under it, keys in the order the platform lists
// them, depth first. False when the cache key is absent.
bool ReadCacheTree(std::vector<RegistryTreeValue>* values, std::vector<std::string>* keys = nullptr);

// The values of the cache key itself (not those of the keys under it), by name: type and data.
// Empty when the key is absent.
using CacheValueMap = std::map<std::string, std::pair<DWORD, std::vector<uint8_t>>>;
CacheValueMap ReadCacheValues();

// Replaces the cache key's tree with these keys and values (as ReadCacheTree gave them).
void WriteCacheTree(const std::vector<RegistryTreeValue>& values, const std::vector<std::string>& keys);

// Keeps the cache key as it was found (every value in it and under it, or its absence) and puts
// it back when it goes.
class CacheKeyBackup {
public:
    CacheKeyBackup();
    ~CacheKeyBackup();

private:
    bool existed_;
    std::vector<std::string> keys_;
    std::vector<RegistryTreeValue> values_;
    CacheKeyBackup(const CacheKeyBackup&) = delete;
    CacheKeyBackup& operator=(const CacheKeyBackup&) = delete;
};

}   // namespace driver_fixtures
