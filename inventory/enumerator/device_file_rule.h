// Which ORV_DE.VXD the system loads for "\\.\ORV_DE.vxd", decided before the device is opened.
//
// For a device name with an extension, Windows 95/98 look for the file along the standard
// search path: the program's directory, the current directory, then the system directory,
// the Windows directory and the directories of PATH. Deployment writes the driver to the
// system directory only. So the client opens the device only when the system directory holds
// the driver file and neither the program's directory nor the current directory holds a file
// of that name (unless that directory is the system directory itself): then the deployed file
// is the first one found. When it cannot be sure (a path that cannot be read or is too long, a
// file whose presence cannot be told), it opens nothing and the inventory runs without the
// driver's lists, as when the open fails.
//
// Platform-free: the platform comes in through DeviceFileLookup, so the rule also builds
// natively for the sanitizer tests.
#pragma once

#include <stdint.h>

namespace device_file_rule {

// The file name the system looks for.
extern const char kDeviceFileName[];   // "ORV_DE.VXD"

// Longest path the rule works with, terminator included; a longer one counts as unreadable.
const uint32_t kPathCapacity = 520;

enum class FileState { kAbsent, kPresent, kUnknown };

// What the rule asks of the platform. Each path call writes a zero-terminated path into out
// (capacity bytes) and returns its length without the terminator, as the Win32 calls do: 0
// when it failed, capacity or more when the path does not fit.
class DeviceFileLookup {
public:
    virtual ~DeviceFileLookup() {}
    virtual uint32_t ProgramPath(char* out, uint32_t capacity) const = 0;                   // GetModuleFileNameA(NULL)
    virtual uint32_t CurrentDirectory(char* out, uint32_t capacity) const = 0;              // GetCurrentDirectoryA
    virtual uint32_t SystemDirectory(char* out, uint32_t capacity) const = 0;               // GetSystemDirectoryA
    virtual uint32_t ShortPath(const char* path, char* out, uint32_t capacity) const = 0;   // GetShortPathNameA
    // GetFileAttributesA: a file or directory of that path exists, does not, or cannot be told.
    virtual FileState StateOf(const char* path) const = 0;
    // CharNextA and lstrcmpiA of the system's code page.
    virtual const char* Next(const char* text) const = 0;
    virtual int CompareNoCase(const char* left, const char* right) const = 0;
};

// True when opening the device can load only the system directory's ORV_DE.VXD.
bool OnlyTheDeployedFileCanLoad(const DeviceFileLookup& lookup);

}   // namespace device_file_rule
