#include "version_cache_registry.h"

#include <utility>

#include "owner.h"

namespace {

const char kCacheKey[] = "SOFTWARE\\Orvane\\Service\\DCOM\\Cache";
const char kCacheValue[] = "DDB";
const char kDescriptionValue[] = "Description";
const char kDescription[] =
    "This key enables faster processing of data.  If deleted, it will be recreated, but the "
    "process will take 9-15 seconds longer than normal.";
const DWORD kDescriptionLength = 137;   // written without its terminating zero
static_assert(sizeof(kDescription) - 1 == kDescriptionLength, "description text");

}  // namespace

void LoadVersionCache(VersionCache& cache) {
    // Windows 95/98 ignores access masks; elsewhere reading the value is all that is needed.
    RegistryKey key;
    if (!key.Opened(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, KEY_QUERY_VALUE, key.receive()) ==
                    ERROR_SUCCESS)) {
        return;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), kCacheValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return;
    if (size == 0) return;
    HeapArray<BYTE> image(new BYTE[size]);
    if (!image) return;
    // Any program may rewrite the value between the two queries: a value that grew no longer
    // fits and is taken as absent.
    DWORD read = size;
    if (RegQueryValueExA(key.get(), kCacheValue, nullptr, nullptr, image.get(), &read) != ERROR_SUCCESS ||
        read > size) {
        return;
    }
    cache.Adopt(std::move(image), read);
}

void SaveVersionCache(const VersionCache& cache) {
    RegistryKey key;
    DWORD disposition = 0;
    if (!key.Opened(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE, nullptr, key.receive(), &disposition) == ERROR_SUCCESS)) {
        MessageBoxA(nullptr, "Unable to create key", "SaveCacheToReg", MB_OK);
        return;
    }
    // Write failures after this point go unreported; the next run finds the older value.
    RegSetValueExA(key.get(), kCacheValue, 0, REG_BINARY, cache.Image(), cache.Length());
    RegSetValueExA(key.get(), kDescriptionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kDescription),
                   kDescriptionLength);
}
