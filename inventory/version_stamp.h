// Version stamps: the file version of a driver file's version resource as text.
#pragma once

// Empties `stamp`, then writes the file version of the file at `path` as
// "%02d.%02d.%02d.%04d" (at most 23 characters and a zero). Returns 1 when a stamp was written,
// 0 when the file has no usable version information (the stamp stays empty), and
// kVersionStampUnread when memory for the version information ran out: the stamp stays empty
// and says nothing about the file.
const int kVersionStampUnread = -1;
int ReadVersionStamp(const char* path, char* stamp);
