#include "device_file_rule.h"

#include <string.h>

namespace device_file_rule {

const char kDeviceFileName[] = "ORV_DE.VXD";

namespace {

// A path of at most kPathCapacity bytes with its terminator.
struct Path {
    char text[kPathCapacity];
};

// Copies text (which fits) to out.
void Copy(char* out, const char* text) {
    memcpy(out, text, strlen(text) + 1);
}

// Whether a call's answer is a whole path: not failed, not cut short.
bool Whole(uint32_t length) {
    return length != 0 && length < kPathCapacity - 1;
}

// The last backslash of text, stepping character by character (a trail byte of a double-byte
// character may have the backslash's value); null when there is none.
const char* LastBackslash(const DeviceFileLookup& lookup, const char* text) {
    const char* last = nullptr;
    for (const char* at = text; *at;) {
        const char* next = lookup.Next(at);
        if (next == at + 1 && *at == '\\') last = at;
        if (next <= at) break;
        at = next;
    }
    return last;
}

// text without a final backslash, for comparing directories ("C:\WINDOWS\" and "C:\WINDOWS").
void WithoutFinalBackslash(const DeviceFileLookup& lookup, const char* text, Path* out) {
    Copy(out->text, text);
    const char* last = LastBackslash(lookup, out->text);
    if (last && last[1] == '\0') out->text[last - out->text] = '\0';
}

// Whether two directories are certainly the same: their names compare equal apart from case
// and a final backslash, or their short (8.3) forms do. Anything else counts as different.
bool SameDirectory(const DeviceFileLookup& lookup, const char* left, const char* right) {
    Path a, b;
    WithoutFinalBackslash(lookup, left, &a);
    WithoutFinalBackslash(lookup, right, &b);
    if (lookup.CompareNoCase(a.text, b.text) == 0) return true;
    Path shortLeft, shortRight;
    if (!Whole(lookup.ShortPath(left, shortLeft.text, kPathCapacity))) return false;
    if (!Whole(lookup.ShortPath(right, shortRight.text, kPathCapacity))) return false;
    WithoutFinalBackslash(lookup, shortLeft.text, &a);
    WithoutFinalBackslash(lookup, shortRight.text, &b);
    return lookup.CompareNoCase(a.text, b.text) == 0;
}

// directory + "\" + the device file's name; false when it does not fit.
bool DeviceFileIn(const DeviceFileLookup& lookup, const char* directory, Path* out) {
    const size_t length = strlen(directory);
    const char* last = LastBackslash(lookup, directory);
    const bool separated = last && last[1] == '\0';
    if (length + (separated ? 0 : 1) + sizeof(kDeviceFileName) > kPathCapacity) return false;
    memcpy(out->text, directory, length);
    size_t at = length;
    if (!separated) out->text[at++] = '\\';
    Copy(out->text + at, kDeviceFileName);
    return true;
}

// Whether the directory cannot hand the system another ORV_DE.VXD before the system
// directory's: it holds no file of that name, or it is the system directory.
bool YieldsToTheSystemDirectory(const DeviceFileLookup& lookup, const char* directory, const char* system) {
    Path file;
    if (!DeviceFileIn(lookup, directory, &file)) return false;
    switch (lookup.StateOf(file.text)) {
    case FileState::kAbsent:
        return true;
    case FileState::kPresent:
        return SameDirectory(lookup, directory, system);
    case FileState::kUnknown:
        break;
    }
    return false;
}

}   // namespace

bool OnlyTheDeployedFileCanLoad(const DeviceFileLookup& lookup) {
    Path system;
    if (!Whole(lookup.SystemDirectory(system.text, kPathCapacity))) return false;
    // Without the deployed file the search would go on to the Windows directory and PATH.
    Path deployed;
    if (!DeviceFileIn(lookup, system.text, &deployed) || lookup.StateOf(deployed.text) != FileState::kPresent)
        return false;

    // The program's directory: its path up to and including the last backslash.
    Path program;
    if (!Whole(lookup.ProgramPath(program.text, kPathCapacity))) return false;
    const char* last = LastBackslash(lookup, program.text);
    if (!last) return false;
    program.text[last - program.text + 1] = '\0';
    if (!YieldsToTheSystemDirectory(lookup, program.text, system.text)) return false;

    Path current;
    if (!Whole(lookup.CurrentDirectory(current.text, kPathCapacity))) return false;
    return YieldsToTheSystemDirectory(lookup, current.text, system.text);
}

}   // namespace device_file_rule
