// Version stamps: the file version of a driver file's version resource as text.
#pragma once

#include <windows.h>

// What a read of a file's version gave, beside the stamp text:
const int kVersionStampNoMemory = -1;   // memory for the version information ran out
const int kVersionStampNotNow = -2;     // the file could not be opened at this moment

// The largest version information a file can have: a version block states its total length in
// a 16-bit word. A file whose headers claim more is damaged, and has no usable version.
const DWORD kLargestVersionInfo = 0x10000;

// Empties `stamp`, then writes the file version of the file at `path` as
// "%02d.%02d.%02d.%04d" (at most 23 characters and a zero). Returns 1 when a stamp was written,
// 0 when the file has no usable version information or cannot be found (the stamp stays empty),
// kVersionStampNotNow when the platform could not read it at this moment (another program holds
// it against the read or has it locked) and kVersionStampNoMemory when memory ran out: in those
// two the stamp stays empty and says nothing about the file.
int ReadVersionStamp(const char* path, char* stamp);

// How the reading of a whole file ended (ReadFileStamp):
const int kFileStampOfOneState = 1;    // stamp and time belong together: list it, keep the entry
const int kFileStampTimeChanged = 2;   // the time changed during every read: nothing to list

// How often ReadFileStamp reads a file whose time keeps changing while it is read.
const int kFileStampReadAttempts = 3;

// Reads the stamp of the file at `path` as ReadVersionStamp does, holding no handle while the
// platform's version functions open the file (on Windows 95/98 they open it in compatibility
// mode, which fails while any other program holds it open in a sharing mode). `listed` is the
// last-write time the directory search gave; after the read, a short open with full sharing
// takes the time the file has then. When the two differ, the file was changed meanwhile and
// it is read again, between that later time and the next, up to kFileStampReadAttempts reads.
// The open after the read also tells a file that cannot be read now (gone, access denied, held
// by another program against this one) from one that has no version.
// Returns kFileStampOfOneState when the times before and after a read agree: the stamp, empty
// or not, is that of the file at that time, and `lastWrite` gets that time.
// kFileStampTimeChanged when they differed in every read, 0 when the file could not be read
// now, kVersionStampNoMemory when memory ran out; in those the stamp is empty and says nothing
// about the file.
int ReadFileStamp(const char* path, const FILETIME& listed, char* stamp, FILETIME* lastWrite);
