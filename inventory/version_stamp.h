// Version stamps: the file version of a driver file's version resource as text.
#pragma once

#include <windows.h>

// What a read of a file's version gave. A scoped enumeration, so that no bare integer (nor a
// count, nor a platform status) can stand for one by mistake, as `Opened` takes a bool only.
enum class StampRead {
    kStamped,     // the stamp was written
    kNoVersion,   // no usable version information, or the file cannot be found: no stamp
    kNotNow,      // the platform could not read the file at this moment
    kNoMemory,    // memory for the version information ran out
};

// The largest version information a file can have: a version block states its total length in
// a 16-bit word. A file whose headers claim more is damaged, and has no usable version.
const DWORD kLargestVersionInfo = 0x10000;

// Empties `stamp`, then writes the file version of the file at `path` as
// "%02d.%02d.%02d.%04d" (at most 23 characters and a zero). Returns kStamped when a stamp was
// written, kNoVersion when the file has no usable version information or cannot be found (the
// stamp stays empty), kNotNow when the platform could not read it at this moment (another
// program holds it against the read or has it locked) and kNoMemory when memory ran out: in
// those two the stamp stays empty and says nothing about the file.
[[nodiscard]] StampRead ReadVersionStamp(const char* path, char* stamp);

// The last-write time of the file at `path` now, through a short open with read access and full
// sharing, closed before it returns. False when the file cannot be opened now: it is gone, its
// access is denied, or another program holds it against readers. Also what tells a file without
// a version from one that could not be read: the version functions say "not found" for both.
bool LastWriteTimeNow(const char* path, FILETIME* lastWrite);
