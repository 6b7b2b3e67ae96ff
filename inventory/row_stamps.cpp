#include "row_stamps.h"

#include "version_stamp.h"

DWORD StampRows(DriverTable& table, VersionCache& cache) {
    DWORD hits = 0;
    for (DWORD row = 0; row < table.Count(); ++row) {
        DriverItem& item = table.Row(row);
        if (cache.LookupVersionCache(item)) {
            ++hits;
            continue;
        }
        if (ReadVersionStamp(item.fullPath, item.versionStamp) == kVersionStampUnread) continue;
        cache.UpdateVersionCache(item);
    }
    return hits;
}
