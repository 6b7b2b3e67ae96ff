// The version cache: per full path, the stamp and device name of every driver file an earlier
// run examined, with the file's last-write time at that run, kept in the registry value "DDB"
// (layout in version_cache_image.h).
#include <string.h>

#include "driver_inventory.h"
#include "registry_key.h"
#include "version_cache_image.h"
#include "version_stamp.h"

namespace {

const char kCacheKey[] = "SOFTWARE\\Orvane\\Service\\DCOM\\Cache";
const char kCacheValue[] = "DDB";
const char kDescriptionValue[] = "Description";
const char kDescription[] =
    "This key enables faster processing of data.  If deleted, it will be recreated, but the "
    "process will take 9-15 seconds longer than normal.";
const DWORD kDescriptionLength = 137;   // written without its terminating zero
static_assert(sizeof(kDescription) - 1 == kDescriptionLength, "description text");

// The first 13 bytes of a stamp as an entry stores them: its characters, then zero bytes.
void TakeCachedStamp(const char* stamp, char* cached) {
    memset(cached, 0, kCacheStampSize);
    for (uint32_t i = 0; i < kCacheStampSize && stamp[i]; ++i) cached[i] = stamp[i];
}

}  // namespace

void DriverInventory::LoadVersionCache() {
    delete[] cacheImage_;
    cacheImage_ = nullptr;
    cacheLength_ = 0;

    // Windows 95/98 ignores access masks; elsewhere reading the value is all that is needed.
    RegistryKey key;
    if (!key.Opened(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, KEY_QUERY_VALUE, key.receive()))) return;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), kCacheValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return;
    if (size == 0) return;
    BYTE* image = new BYTE[size];
    if (!image) return;
    // Any program may rewrite the value between the two queries: a value that grew no longer
    // fits and is taken as absent.
    DWORD read = size;
    if (RegQueryValueExA(key.get(), kCacheValue, nullptr, nullptr, image, &read) != ERROR_SUCCESS || read > size) {
        delete[] image;
        return;
    }
    // The value is shared, unlocked data of any type and content. Only its leading whole
    // entries are kept: the paths behind a damaged part miss, are read again and appended to
    // an image that is whole again when it is saved. Damage behind the last entry any row
    // needs would cause no miss, so it marks the image changed itself: the value is written
    // back whole even when every row is found in it.
    cacheLength_ = WellFormedCacheLength(image, read);
    if (cacheLength_ < read) cacheDirty_ = 1;
    if (cacheLength_ == 0) {
        delete[] image;
        return;
    }
    cacheImage_ = image;
}

int DriverInventory::LookupVersionCache(DWORD row) {
    if (row >= itemCount_) return 0;
    DriverItem& item = items_[row];
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(item.fullPath));
    const int32_t position = FindCachedPath(cacheImage_, cacheLength_, item.fullPath, pathLength);
    if (position < 0) return 0;
    const BYTE* fields = cacheImage_ + position + pathLength;
    if (ReadCacheWord(fields + kCacheTimeHighOffset) != item.lastWriteHigh) return 0;
    if (ReadCacheWord(fields + kCacheTimeLowOffset) != item.lastWriteLow) return 0;
    memcpy(item.deviceName, fields + kCacheDeviceNameOffset, kCacheDeviceNameSize);
    memcpy(item.versionStamp, fields + kCacheStampOffset, kCacheStampSize);
    item.versionStamp[kCacheStampSize] = '\0';
    return 1;
}

void DriverInventory::UpdateVersionCache(DWORD row) {
    if (row >= itemCount_) return;
    DriverItem& item = items_[row];
    FILETIME lastWrite;
    if (!ReadHeldVersionStamp(item.fullPath, item.versionStamp, &lastWrite)) {
        // Gone since the scan, or being written by another program: no stamp in this run, and
        // nothing recorded, so that the next run reads the file again.
        return;
    }
    // The file may have been replaced or given another time since the directory search: the row
    // takes the time of the content whose stamp was read, so that the stamp, the date listed
    // and the entry recorded all belong to one state of the file. It is recorded with or
    // without a stamp.
    item.lastWriteLow = lastWrite.dwLowDateTime;
    item.lastWriteHigh = lastWrite.dwHighDateTime;

    char cachedStamp[kCacheStampSize];
    TakeCachedStamp(item.versionStamp, cachedStamp);
    const BYTE* deviceName = reinterpret_cast<const BYTE*>(item.deviceName);
    const uint32_t pathLength = static_cast<uint32_t>(lstrlenA(item.fullPath));
    const int32_t position = FindCachedPath(cacheImage_, cacheLength_, item.fullPath, pathLength);
    if (position >= 0) {
        // The path is stored, with another time: its fields are rewritten in place.
        WriteCacheEntryFields(cacheImage_ + position + pathLength, deviceName, cachedStamp,
                              item.lastWriteLow, item.lastWriteHigh);
        cacheDirty_ = 1;
        return;
    }

    const uint32_t entryLength = pathLength + kCacheEntryOverhead;
    if (cacheLength_ > 0xFFFFFFFFu - entryLength) return;
    BYTE* grown = new BYTE[cacheLength_ + entryLength];
    if (!grown) return;   // not recorded: the next run reads the file again
    if (cacheLength_) memcpy(grown, cacheImage_, cacheLength_);
    WriteCacheEntry(grown + cacheLength_, item.fullPath, pathLength, deviceName, cachedStamp,
                    item.lastWriteLow, item.lastWriteHigh);
    delete[] cacheImage_;
    cacheImage_ = grown;
    cacheLength_ += entryLength;
    cacheDirty_ = 1;
}

void DriverInventory::SaveVersionCache() {
    RegistryKey key;
    DWORD disposition = 0;
    if (!key.Opened(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE, nullptr, key.receive(), &disposition))) {
        MessageBoxA(nullptr, "Unable to create key", "SaveCacheToReg", MB_OK);
        return;
    }
    // Write failures after this point go unreported; the next run finds the older value.
    RegSetValueExA(key.get(), kCacheValue, 0, REG_BINARY, cacheImage_, cacheLength_);
    RegSetValueExA(key.get(), kDescriptionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kDescription),
                   kDescriptionLength);
}
