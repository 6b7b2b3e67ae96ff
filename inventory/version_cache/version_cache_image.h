// The bytes of the version cache ("DDB" value): entries back to back, with no header, count,
// separator or terminator. One entry for a full path of L bytes:
//
//   offset  size  content
//   0       L     full path, byte for byte, no terminating zero
//   L       9     device name field, all 9 bytes
//   L+9     13    first 13 bytes of the version stamp field (zero-filled when shorter)
//   L+22    4     last-write time, low half, little-endian
//   L+26    4     last-write time, high half, little-endian
//   L+30    2     zero
//
// Nothing here touches the platform, so the image logic also builds and runs natively.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "version_cache_index.h"

const uint32_t kCacheDeviceNameSize = 9;
const uint32_t kCacheStampSize = 13;
const uint32_t kCacheFieldsSize = 30;        // device name, stamp and time after the path
const uint32_t kCacheEntryOverhead = 32;     // the fields and the two trailing zero bytes
const uint32_t kCacheDeviceNameOffset = 0;   // offsets from the end of the path
const uint32_t kCacheStampOffset = 9;
const uint32_t kCacheTimeLowOffset = 22;
const uint32_t kCacheTimeHighOffset = 26;

// A row's full path has at most 511 characters (512 with its zero); the entry layout argued
// below needs more than 8. Entries outside these lengths are never any row's and are dropped
// when an image is read in, so that every entry fits a piece (see below).
const uint32_t kCacheShortestPath = 9;
const uint32_t kCacheLongestPath = 511;
const uint32_t kCacheLongestEntry = kCacheLongestPath + kCacheEntryOverhead;

// The path length of the entry that starts at `start`, or 0 when no whole entry starts there.
//
// The image marks no boundaries, so the path's length is worked out from the bytes. A path
// holds no zero byte; the device name field after it holds one within its 9 bytes (it is empty,
// or up to 8 characters and a zero); an entry ends in two zero bytes; the next entry starts
// with a path byte, which is never zero. So the path ends at most 8 bytes before the first zero
// byte after `start`, and at the latest there: of those lengths, the longest whose entry fits
// in the image and ends in two zero bytes is taken. In an image of whole entries this is the
// stored length: a longer candidate ends up to 8 bytes into the next entry and would need zero
// bytes where that entry's path lies, and every full path is longer than 8 bytes.
uint32_t MeasureCacheEntry(const uint8_t* image, uint32_t length, uint32_t start);

// The 30 field bytes that follow a path: device name, stamp, low and high half of the time.
// `deviceName` is 9 bytes, `stamp` at least 13 (only the first 13 are taken, as they are).
void WriteCacheEntryFields(uint8_t* fields, const uint8_t* deviceName, const char* stamp, uint32_t timeLow,
                           uint32_t timeHigh);

// A whole entry of pathLength + 32 bytes at `entry`.
void WriteCacheEntry(uint8_t* entry, const char* path, uint32_t pathLength, const uint8_t* deviceName,
                     const char* stamp, uint32_t timeLow, uint32_t timeHigh);

uint32_t ReadCacheWord(const uint8_t* bytes);   // 4 bytes, little-endian

// Pieces. The registry holds the image in pieces of whole entries, each short enough to be one
// registry value; the first piece alone is a well-formed image. Reading them back in order
// joins them into one image in memory; saving splits it again.

// Joins a piece to the image. The piece's `pieceLength` bytes lie right after the image's
// `imageLength` bytes (where the piece was read); its leading whole entries join the image,
// moved down to close gaps, except those whose path the index already holds (the first
// occurrence stays) and those whose path length no row has. The walk stops at the first
// bytes that are not a whole entry, so a damaged piece loses what lies behind the damage and
// nothing else. Every entry that joins is indexed; an entry that the index has no room for
// does not join. Returns the image's new length.
uint32_t MergeCachePiece(uint8_t* image, uint32_t imageLength, uint32_t pieceLength, CacheIndex* index);

// How many whole entries lead the bytes (as MergeCachePiece walks them), at most.
uint32_t CountCacheEntries(const uint8_t* piece, uint32_t length);

// Splits an image of whole entries into pieces of at most `capacity` bytes each, greedily:
// each piece takes as many whole entries as fit. `ends` receives where each piece ends (the
// next starts there). Returns the number of pieces: 1 for an empty image (an empty first
// piece), at most `maxPieces`. When the pieces cannot hold the whole image, the last one ends
// before the image does, and the entries after it are in no piece.
uint32_t SplitCacheImage(const uint8_t* image, uint32_t length, uint32_t capacity, uint32_t* ends, uint32_t maxPieces);
