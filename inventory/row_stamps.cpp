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
        const int read = ReadHeldVersionStamp(item.fullPath, item.versionStamp, &lastWrite);
        if (read != 1) {
            // Gone since the scan, being written by another program, or no memory to read it: no
            // stamp in this run, and nothing recorded, so that the next run reads the file again.
            // A file lost to memory leaves the table short of a row it should hold.
            if (read == kVersionStampUnread) table.MarkShortOfMemory();
            continue;
        }
        // The file may have been replaced or given another time since the directory search:
        // the row takes the time of the content whose stamp was read, so that the stamp, the
        // date listed and the entry recorded all belong to one state of the file. It is
        // recorded with or without a stamp.
        item.lastWriteLow = lastWrite.dwLowDateTime;
        item.lastWriteHigh = lastWrite.dwHighDateTime;
        cache.UpdateVersionCache(item);
    }
    return hits;
}
