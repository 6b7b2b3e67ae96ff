// Gives every row of the table its version stamp: from the version cache when the cache holds
// the row's path with the row's last-write time, otherwise read from the file and then recorded
// in the cache (also when the file yields no stamp, so that it is not read again while its time
// stays the same). Only a file read whole with one last-write time throughout is recorded: an
// empty stamp in the cache would keep a file out of every list until its time changed, so a file
// that could not be read now (gone, held by another program) or for want of memory is not, and
// one whose time changed during the read is listed with its new time and read again next run.
// A file lost to memory marks the table short of memory.
#pragma once

#include "driver_table.h"
#include "version_cache/version_cache.h"

// Returns how many rows took their stamp from the cache.
DWORD StampRows(DriverTable& table, VersionCache& cache);
