// Each directory is searched by its full path ("<directory>\*.vxd"): the scan never touches the
// process's current directory, which belongs to the caller and to every other thread of the
// process.
#include "driver_file_scan.h"

#include "driver_extensions.h"
#include "owner.h"

namespace {

const DWORD kDirectoryBufferSize = 512;
const DWORD kPathBufferSize = 2048;

// Takes the length that GetSystemDirectoryA or GetWindowsDirectoryA reported for a
// 512-character buffer. A result of 0 (failure) or one at least as long as the buffer
// (truncated) leaves the directory empty: it is not searched.
void KeepWhole(UINT length, char* directory) {
    if (length == 0 || length >= kDirectoryBufferSize) directory[0] = '\0';
}

// Appends `suffix` to the directory text when the whole fits in the 512-character buffer;
// otherwise the directory is left empty and is not searched.
void AppendSuffix(char* directory, const char* suffix) {
    if (!directory[0]) return;
    if (lstrlenA(directory) + lstrlenA(suffix) >= static_cast<int>(kDirectoryBufferSize)) {
        directory[0] = '\0';
        return;
    }
    lstrcatA(directory, suffix);
}

// The scan's own scratch: the directory being searched, the search pattern and then each full
// path, and the directory search's record.
class DirectorySearch {
public:
    explicit DirectorySearch(DriverTable& table) : table_(table), found_() {
        directory_[0] = '\0';
        path_[0] = '\0';
    }

    void ScanDirectory(const char* directory) {
        lstrcpynA(directory_, directory, sizeof(directory_));
        for (const char* extension : kDriverExtensions) ScanPattern(extension);
    }

private:
    // Searches "<directory>\*<extension>".
    void ScanPattern(const char* extension) {
        // The directory holds at most 511 characters, so the pattern always fits the
        // 2048-character path buffer; the check keeps it so should the sizes change.
        const int directoryLength = lstrlenA(directory_);
        if (directoryLength + 2 + lstrlenA(extension) >= static_cast<int>(sizeof(path_))) return;
        lstrcpyA(path_, directory_);
        lstrcatA(path_, "\\*");
        lstrcatA(path_, extension);
        FindHandle search(FindFirstFileA(path_, &found_));
        if (!search) return;   // nothing matches, or the directory cannot be searched
        do {
            // Every entry is taken, whatever its attributes (a matching sub-directory gets no
            // version stamp and goes at compaction).
            char* name = found_.cFileName;
            const int nameLength = lstrlenA(name);
            CharUpperBuffA(name, static_cast<DWORD>(nameLength));
            // A full path the row cannot hold whole would, cut short, name another file (and be
            // another file's cache key): such a file is left out.
            if (directoryLength + 1 + nameLength >= static_cast<int>(sizeof(DriverItem::fullPath))) continue;
            lstrcpyA(path_, directory_);
            lstrcatA(path_, "\\");
            lstrcatA(path_, name);
            table_.AddItem(name, path_, found_.ftLastWriteTime.dwLowDateTime, found_.ftLastWriteTime.dwHighDateTime);
        } while (FindNextFileA(search.get(), &found_));
    }

    DriverTable& table_;
    char directory_[kDirectoryBufferSize];
    char path_[kPathBufferSize];
    WIN32_FIND_DATAA found_;
};

}   // namespace

void ScanDriverFiles(DriverTable& table) {
    char systemDirectory[kDirectoryBufferSize];
    char driversDirectory[kDirectoryBufferSize];
    char ioSubSysDirectory[kDirectoryBufferSize];
    KeepWhole(GetSystemDirectoryA(systemDirectory, kDirectoryBufferSize), systemDirectory);
    KeepWhole(GetWindowsDirectoryA(driversDirectory, kDirectoryBufferSize), driversDirectory);
    AppendSuffix(driversDirectory, "\\System32\\Drivers");
    lstrcpyA(ioSubSysDirectory, systemDirectory);
    AppendSuffix(ioSubSysDirectory, "\\IoSubSys");

    DirectorySearch search(table);
    const char* const directories[] = {systemDirectory, driversDirectory, ioSubSysDirectory};
    for (const char* directory : directories) {
        if (directory[0]) search.ScanDirectory(directory);
    }
}
