// Gives every row of the table its version stamp: from the version cache when the cache holds
// the row's path with the row's last-write time, otherwise read from the file and then recorded
// in the cache (also when the file yields no stamp, so that it is not read again while its time
// stays the same).
//
// A stamp read from the file is listed and recorded only with a time the file had throughout
// the read: the time the directory search gave before it, and the time the file has after it,
// must agree. No handle of the inventory's is open while the version functions open the file (on
// Windows 95/98 they open it in compatibility mode, which fails while any other handle holds
// it). The time after a read is taken by one more search of the file's directory where many
// rows were read there, and by a short open of each file elsewhere (`LastWriteTimeNow`). A file
// whose time changed during its read is read again, between that later time and the next, up to
// kFileStampReadAttempts reads; one whose time changed during every read is not listed by this
// run, nor recorded.
//
// An empty stamp in the cache would keep a file out of every list until its time changed, so a
// file that could not be read now (gone, denied, held by another program against the read) is
// not recorded either: the next run reads it again. A file lost to memory marks the table short
// of memory.
#pragma once

#include "driver_table.h"
#include "version_cache/version_cache.h"

// How often a file whose time keeps changing while it is read is read in one run.
const int kFileStampReadAttempts = 3;

// Where more rows than this have read a stamp in one directory, their times after the read come
// from one search of that directory; fewer take a short open each.
const DWORD kRowsWorthADirectorySearch = 8;

// Returns how many rows took their stamp from the cache.
DWORD StampRows(DriverTable& table, VersionCache& cache);
