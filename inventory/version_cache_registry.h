// Where the version cache lives between runs: the binary value "DDB" of the key
// HKEY_LOCAL_MACHINE "SOFTWARE\Orvane\Service\DCOM\Cache", beside a "Description" text. The
// value is shared by every process and nothing locks it: each run reads it once and, when it
// changed anything, writes its whole image back.
#pragma once

#include "version_cache.h"

// Gives the cache the stored image. A missing key or value, or one that cannot be read whole,
// leaves the cache empty.
void LoadVersionCache(VersionCache& cache);

// Writes the image as "DDB" and the description. When the key cannot be created it shows
// "Unable to create key" (caption "SaveCacheToReg") and writes nothing.
void SaveVersionCache(const VersionCache& cache);
