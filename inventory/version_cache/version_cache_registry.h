// Where the version cache lives between runs: under the key HKEY_LOCAL_MACHINE
// "SOFTWARE\Orvane\Service\DCOM\Cache", beside a "Description" text, in pieces of whole
// entries that Windows 95/98 accept as registry values (at most 16,300 bytes each, at most 3
// per key so that no key's values come near the 64 KB those systems allow):
//
//   Cache                  "DDB"         piece 0, a well-formed image on its own
//                          "DDB1" "DDB2" pieces 1 and 2
//                          "DDB Pieces"  REG_DWORD, how many pieces the last save wrote
//                          "Description"
//   Cache\DDB3             "DDB3" "DDB4" "DDB5"
//   Cache\DDB6             "DDB6" "DDB7" "DDB8"   and so on, 3 to a key
//
// A component that knows only "DDB" finds the leading entries there. Without "DDB Pieces" (a
// machine where only "DDB" was ever written) "DDB" is the whole cache. Pieces beyond the
// count are not read and are removed by the next save. Deleting the key removes them all.
//
// The pieces are shared by every process and nothing locks them: each run reads them once
// and, when it changed anything, writes back the pieces that differ from what it read. Every
// entry carries its own path and time, so pieces from different saves mixed together give at
// worst a miss, never another file's or another time's stamp.
#pragma once

#include "version_cache.h"

// Gives the cache the stored pieces. A missing key leaves the cache empty; a piece that is
// missing, or cannot be read whole, is missing alone.
void LoadVersionCache(VersionCache& cache);

// Writes the pieces that differ from the stored ones, the piece count, the description, and
// removes pieces left beyond the count. When the key cannot be created it shows "Unable to
// create key" (caption "SaveCacheToReg") and writes nothing. Nothing else is reported: a piece
// the registry refuses loses its own entries, which the next run reads again.
void SaveVersionCache(const VersionCache& cache);
