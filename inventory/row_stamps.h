// Gives every row of the table its version stamp: from the version cache when the cache holds
// the row's path with the row's last-write time, otherwise read from the file and then recorded
// in the cache (also when the file yields no stamp, so that it is not read again while its time
// stays the same). A file that could not be read for want of memory is not recorded: an empty
// stamp in the cache would keep it out of every list until its time changed; it marks the table
// short of memory.
#pragma once

#include "driver_table.h"
#include "version_cache.h"

// Returns how many rows took their stamp from the cache.
DWORD StampRows(DriverTable& table, VersionCache& cache);
