// The machine of the concurrent load test, shared by the test and its mutator process: the
// driver files it places in the IoSubSys directory (the last the inventory scans, which holds
// nothing else here), the versions each file can have and the time that goes with each, the log
// in which the mutator records every state it gave a file, and an independent reading of the
// version cache image.
//
// Every version of a file has a date of its own, and every change the mutator makes gives the
// file a last-write time never used before for that path: a (stamp, date) pair names one
// version, and a last-write time names one state of the file.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "driver_file_image.h"

namespace load {

struct LoadFile {
    const char* name;   // upper case; in use through a loaded module of its name without extension
    bool mutated;       // false: the mutator never touches it
};

// In the order in which the inventory scans them: pattern order, then name order.
extern const LoadFile kFiles[];
extern const int kFileCount;
const int kVersions = 3;
// The mutator numbers its changes from 1; change n gives a time in the n-th second of its day.
const uint32_t kMaxChanges = 86399;

std::string ModuleName(int file);
driver_fixtures::FileVersion VersionOf(int file, int version);
std::string StampOf(int file, int version);   // as the inventory prints it
std::string DateOf(int file, int version);    // YYYY/MM/DD
// The last-write time that change `change` gives a file of that version (change 0: placed).
FILETIME TimeOf(int file, int version, uint32_t change);
std::vector<uint8_t> ImageOf(int file, int version);
std::string DateText(const FILETIME& time);   // the UTC date as the inventory prints it

// A file's state as a reader could have found it. Unreadable: no reader could open it (another
// program had it open for writing, or the platform had opened it to replace or delete it).
struct FileState {
    enum Kind { kAbsent, kUnreadable, kPresent } kind = kAbsent;
    std::string stamp, date;   // kPresent
    FILETIME time = {};        // kPresent
};

// One change of the mutator: `sequence` is the counter value it published before starting it.
// `file` is an index of kFiles, or -1 for a change of the cache value. `states` are the states
// the file passed through, in order; the last one is the state it stays in. A change that the
// platform refused (a reader had the file open) leaves it as it was, after any moment in which
// the attempt kept it from being opened.
struct Change {
    uint32_t sequence = 0;
    int file = -1;
    std::string kind;
    bool done = false;
    std::vector<FileState> states;
};
std::string FormatChange(const Change& change);
bool ParseChange(const std::string& line, Change* change);

// One entry of the cache image.
struct CacheEntry {
    std::string path;
    std::string deviceName;   // 9 bytes
    std::string stamp;        // 13 bytes
    FILETIME time;
};
// Reads the image as whole entries from its start to its end: a path (no zero byte), a 9-byte
// device name field that holds a zero byte, a 13-byte stamp, the two halves of the time and two
// zero bytes. The image marks no boundaries, so every reading whose entries end exactly at the
// image's end is tried (the one with the longest paths first); false when there is none.
bool ParseCacheImage(const std::vector<uint8_t>& image, std::vector<CacheEntry>* entries);

}   // namespace load
