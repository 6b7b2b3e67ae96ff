// Version stamps: the file version of a driver file's version resource as text.
#pragma once

#include <windows.h>

// Empties `stamp`, then writes the file version of the file at `path` as
// "%02d.%02d.%02d.%04d" (at most 23 characters and a zero). Returns 1 when a stamp was written,
// 0 when the file has no usable version information (the stamp stays empty), and
// kVersionStampUnread when memory for the version information ran out: the stamp stays empty
// and says nothing about the file.
const int kVersionStampUnread = -1;
int ReadVersionStamp(const char* path, char* stamp);

// Reads the stamp as ReadVersionStamp does while holding the file open, so that no program can
// write, replace or delete it meanwhile, and gives the last-write time of the content read.
// Returns 1 when the file was read (the stamp may be empty), 0 when it could not be opened (it
// is gone, or another program has it open for writing), kVersionStampUnread when memory to read
// it ran out. Short of 1, nothing is known about the file.
int ReadHeldVersionStamp(const char* path, char* stamp, FILETIME* lastWrite);
