// The driver file scan: every file that matches a driver pattern in the three driver
// directories becomes a row, in directory order, then pattern order, then the order in which
// the directory search returns them. Each directory is searched by its full path: the scan
// never touches the process's current directory, which belongs to the caller and to every
// other thread of the process.
#include "driver_inventory.h"

namespace {

const char* const kScanPatterns[] = {"*.vxd", "*.drv", "*.sys", "*.386", "*.wdm", "*.pdr"};

// Closes a directory search exactly once.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (valid()) FindClose(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
};

// Appends `suffix` to the directory text when the whole fits in the 512-character buffer;
// otherwise the directory is left empty and will not be searched.
void AppendSuffix(char* directory, const char* suffix) {
    if (lstrlenA(directory) + lstrlenA(suffix) >= static_cast<int>(DriverInventory::kDirectoryBufferSize)) {
        directory[0] = '\0';
        return;
    }
    lstrcatA(directory, suffix);
}

}  // namespace

int DriverInventory::ScanDriverFiles() {
    char systemDirectory[kDirectoryBufferSize];
    char windowsDirectory[kDirectoryBufferSize];
    char ioSubSysDirectory[kDirectoryBufferSize];
    // A result of 0 (failure) or one at least as long as the buffer (truncated) leaves the
    // directory empty: it is not searched and contributes nothing.
    UINT length = GetSystemDirectoryA(systemDirectory, kDirectoryBufferSize);
    if (length == 0 || length >= kDirectoryBufferSize) systemDirectory[0] = '\0';
    length = GetWindowsDirectoryA(windowsDirectory, kDirectoryBufferSize);
    if (length == 0 || length >= kDirectoryBufferSize) windowsDirectory[0] = '\0';
    if (windowsDirectory[0]) AppendSuffix(windowsDirectory, "\\System32\\Drivers");
    lstrcpyA(ioSubSysDirectory, systemDirectory);
    if (ioSubSysDirectory[0]) AppendSuffix(ioSubSysDirectory, "\\IoSubSys");

    const char* const directories[] = {systemDirectory, windowsDirectory, ioSubSysDirectory};
    for (const char* directory : directories) {
        if (!directory[0]) continue;
        // A directory that does not exist or cannot be read makes every search fail: it
        // contributes no rows.
        lstrcpyA(directoryBuffer_, directory);
        for (const char* pattern : kScanPatterns) ScanPattern(pattern);
    }
    return 1;
}

void DriverInventory::ScanPattern(const char* pattern) {
    // The search names the directory: "<directory>\*.vxd". The directory holds at most 511
    // characters, so the pattern always fits the 2048-character path buffer.
    const int directoryLength = lstrlenA(directoryBuffer_);
    if (directoryLength + 1 + lstrlenA(pattern) >= static_cast<int>(kPathBufferSize)) return;
    lstrcpyA(pathBuffer_, directoryBuffer_);
    lstrcatA(pathBuffer_, "\\");
    lstrcatA(pathBuffer_, pattern);
    FindHandle search(FindFirstFileA(pathBuffer_, &findData_));
    if (!search.valid()) return;
    do {
        char* name = findData_.cFileName;
        const int nameLength = lstrlenA(name);
        CharUpperBuffA(name, static_cast<DWORD>(nameLength));
        // A full path the row cannot hold whole would, cut short, name another file (and be
        // another file's cache key): such a file is left out.
        if (directoryLength + 1 + nameLength >= static_cast<int>(sizeof(DriverItem::fullPath))) continue;
        lstrcpyA(pathBuffer_, directoryBuffer_);
        lstrcatA(pathBuffer_, "\\");
        lstrcatA(pathBuffer_, name);
        AddItem(name, pathBuffer_, findData_.ftLastWriteTime.dwLowDateTime,
                findData_.ftLastWriteTime.dwHighDateTime);
    } while (FindNextFileA(search.get(), &findData_));
}
