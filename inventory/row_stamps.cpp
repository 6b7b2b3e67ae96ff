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
        FILETIME lastWrite;
        const FILETIME listed = {item.lastWriteLow, item.lastWriteHigh};
        const int read = ReadFileStamp(item.fullPath, listed, item.versionStamp, &lastWrite);
        if (read == kVersionStampNoMemory) {
            // A file lost to memory leaves the table short of a row it should hold.
            table.MarkShortOfMemory();
            continue;
        }
        // Gone since the scan, open in another program that denies this one, locked, or changed
        // during every read: no stamp in this run, and nothing recorded, so that the next run
        // reads the file again.
        if (read != kFileStampOfOneState) continue;
        // The file may have been replaced or given another time since the directory search:
        // the row takes the time its stamp was read at, and the date listed is that time's.
        item.lastWriteLow = lastWrite.dwLowDateTime;
        item.lastWriteHigh = lastWrite.dwHighDateTime;
        // Recorded with or without a stamp: it is that of the content the entry's time belongs to.
        cache.UpdateVersionCache(item);
    }
    return hits;
}
