// One driver file found by the scan, as the inventory keeps it.
#pragma once

#include <windows.h>

struct DriverItem {
    char fileName[512];   // long file name, upper case, extension included
    char fullPath[512];   // scan directory, "\", file name: the version cache's key
    // Last-write time (FILETIME, UTC): as the directory search gave it, until the stamp reads
    // give a row whose stamp was read from its file the time the file had throughout the read.
    DWORD lastWriteLow;
    DWORD lastWriteHigh;
    char versionStamp[128];   // "%02d.%02d.%02d.%04d", or empty when the file has none
    char deviceName[9];       // read as a zero-terminated string; filled only from the cache
    bool active;              // once something marks the file as in use
};
