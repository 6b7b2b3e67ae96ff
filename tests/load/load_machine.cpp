#include "load_machine.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>

#include "driver_machine.h"

namespace load {

const LoadFile kFiles[] = {
    {"LDMUTA.VXD", true}, {"LDMUTB.VXD", true}, {"LDSTABLA.VXD", false}, {"LDMUTC.DRV", true},    {"LDMUTD.SYS", true},
    {"LDMUTE.386", true}, {"LDMUTF.WDM", true}, {"LDMUTG.PDR", true},    {"LDSTABLB.PDR", false},
};
const int kFileCount = sizeof(kFiles) / sizeof(kFiles[0]);

std::string ModuleName(int file) {
    const std::string name = kFiles[file].name;
    return name.substr(0, name.size() - 4);
}

// Version v of file f is 4.(10 + v).f.(1000 + 100 v + f): "04.1v.0f.1v0f", one stamp per pair.
driver_fixtures::FileVersion VersionOf(int file, int version) {
    return {4, static_cast<uint16_t>(10 + version), static_cast<uint16_t>(file),
            static_cast<uint16_t>(1000 + 100 * version + file)};
}

std::string StampOf(int file, int version) {
    const driver_fixtures::FileVersion v = VersionOf(file, version);
    char text[32];
    snprintf(text, sizeof(text), "%02d.%02d.%02d.%04d", v.major, v.minor, v.third, v.fourth);
    return text;
}

// Version v of file f dates from (1996 + v)-(f + 1)-(10 + v): no two versions of a file share a day.
static SYSTEMTIME DayOf(int file, int version) {
    SYSTEMTIME day = {};
    day.wYear = static_cast<WORD>(1996 + version);
    day.wMonth = static_cast<WORD>(1 + file % 12);
    day.wDay = static_cast<WORD>(10 + version);
    return day;
}

std::string DateOf(int file, int version) {
    const SYSTEMTIME day = DayOf(file, version);
    char text[16];
    snprintf(text, sizeof(text), "%04d/%02d/%02d", day.wYear, day.wMonth, day.wDay);
    return text;
}

FILETIME TimeOf(int file, int version, uint32_t change) {
    const SYSTEMTIME day = DayOf(file, version);
    return driver_fixtures::UtcFileTime(day.wYear, day.wMonth, day.wDay, static_cast<WORD>(change / 3600),
                                        static_cast<WORD>(change / 60 % 60), static_cast<WORD>(change % 60));
}

std::vector<uint8_t> ImageOf(int file, int version) {
    // Versions differ in size as well as in content.
    return driver_fixtures::BuildVersionedPe(VersionOf(file, version), 64u * static_cast<uint32_t>(version));
}

std::string DateText(const FILETIME& time) {
    SYSTEMTIME utc = {};
    if (!FileTimeToSystemTime(&time, &utc)) return "?";
    char text[16];
    snprintf(text, sizeof(text), "%04d/%02d/%02d", utc.wYear, utc.wMonth, utc.wDay);
    return text;
}

// One change a line: "change SEQUENCE FILE KIND done|refused STATE...", each state "absent",
// "unreadable" or "present STAMP DATE LOW HIGH".
std::string FormatChange(const Change& change) {
    std::ostringstream line;
    line << "change " << change.sequence << " " << change.file << " " << change.kind << " "
         << (change.done ? "done" : "refused");
    for (const FileState& state : change.states) {
        if (state.kind == FileState::kAbsent) {
            line << " absent";
        } else if (state.kind == FileState::kUnreadable) {
            line << " unreadable";
        } else {
            line << " present " << state.stamp << " " << state.date << " " << state.time.dwLowDateTime << " "
                 << state.time.dwHighDateTime;
        }
    }
    return line.str();
}

bool ParseChange(const std::string& line, Change* change) {
    std::istringstream words(line);
    std::string word, result;
    *change = Change();
    if (!(words >> word) || word != "change") return false;
    if (!(words >> change->sequence >> change->file >> change->kind >> result)) return false;
    if (result != "done" && result != "refused") return false;
    change->done = result == "done";
    while (words >> word) {
        FileState state;
        if (word == "absent") {
            state.kind = FileState::kAbsent;
        } else if (word == "unreadable") {
            state.kind = FileState::kUnreadable;
        } else if (word == "present") {
            state.kind = FileState::kPresent;
            if (!(words >> state.stamp >> state.date >> state.time.dwLowDateTime >> state.time.dwHighDateTime)) {
                return false;
            }
        } else {
            return false;
        }
        change->states.push_back(state);
    }
    return true;
}

namespace {

const size_t kDeviceNameSize = 9;
const size_t kStampSize = 13;
const size_t kEntryOverhead = 32;   // device name, stamp, two time halves, two zero bytes

uint32_t Word(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The path lengths an entry starting at `start` can have, longest first.
std::vector<size_t> EntryPathLengths(const std::vector<uint8_t>& image, size_t start) {
    std::vector<size_t> lengths;
    size_t zero = start;
    while (zero < image.size() && image[zero] != 0) ++zero;
    if (zero == start || zero == image.size()) return lengths;
    const size_t longest = zero - start;
    for (size_t length = longest; length >= 1 && length + kDeviceNameSize > longest; --length) {
        const size_t end = start + length + kEntryOverhead;
        if (end <= image.size() && image[end - 2] == 0 && image[end - 1] == 0) lengths.push_back(length);
    }
    return lengths;
}

bool ParseFrom(const std::vector<uint8_t>& image, size_t start, std::map<size_t, bool>* dead,
               std::vector<CacheEntry>* entries) {
    if (start == image.size()) return true;
    if ((*dead)[start]) return false;
    for (size_t length : EntryPathLengths(image, start)) {
        const uint8_t* fields = image.data() + start + length;
        CacheEntry entry;
        entry.path.assign(reinterpret_cast<const char*>(image.data() + start), length);
        entry.deviceName.assign(reinterpret_cast<const char*>(fields), kDeviceNameSize);
        entry.stamp.assign(reinterpret_cast<const char*>(fields + kDeviceNameSize), kStampSize);
        entry.time.dwLowDateTime = Word(fields + kDeviceNameSize + kStampSize);
        entry.time.dwHighDateTime = Word(fields + kDeviceNameSize + kStampSize + 4);
        entries->push_back(entry);
        if (ParseFrom(image, start + length + kEntryOverhead, dead, entries)) return true;
        entries->pop_back();
    }
    (*dead)[start] = true;
    return false;
}

}   // namespace

bool ParseCacheImage(const std::vector<uint8_t>& image, std::vector<CacheEntry>* entries) {
    entries->clear();
    std::map<size_t, bool> dead;   // starts from which no reading reaches the end
    return ParseFrom(image, 0, &dead, entries);
}

}   // namespace load
