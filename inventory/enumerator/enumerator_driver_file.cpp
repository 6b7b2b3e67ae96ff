#include "enumerator_driver_file.h"

#include "owner.h"

namespace {

// The one spelling of the driver file's name; file names compare without regard to case.
const char kDriverFileName[] = "\\ORV_DE.VXD";
const WORD kDriverResourceId = 201;
const char kDriverResourceType[] = "DRIVER";
// Temporary copies are named by the system: "ORV" and four hexadecimal digits, ".TMP".
const char kTemporaryPrefix[] = "ORV";
const UINT kDirectoryBufferSize = 512;

// A file removed again when its owner lets go of it: the temporary copy, until it has been moved
// to the driver file's name.
struct RemovedFileTraits {
    using Value = const char*;
    static const char* Empty() { return nullptr; }
    static void Close(const char* path) { DeleteFileA(path); }
};
using RemovedFile = Owner<RemovedFileTraits>;

// The system directory and, after it, the driver file's full path; 0 when they do not fit.
int GetDriverFilePaths(char (&directory)[kDirectoryBufferSize], char (&path)[kDirectoryBufferSize]) {
    UINT length = GetSystemDirectoryA(directory, kDirectoryBufferSize);
    if (length == 0 || length + sizeof(kDriverFileName) > kDirectoryBufferSize) return 0;
    lstrcpyA(path, directory);
    lstrcatA(path, kDriverFileName);
    return 1;
}

bool FileExists(const char* path) {
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(path, &found));
    return search.valid();
}

// Writes `size` bytes into a new file at `path`; 1 only when every byte was accepted, flushed to
// the disk and the file closed without an error.
int WriteWholeFile(const char* path, const void* bytes, DWORD size) {
    FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return 0;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) return 0;
    if (!FlushFileBuffers(file.get())) return 0;
    // Closed here, not by the owner: a write the system deferred can still fail at the close,
    // and a file whose close failed is not known to be whole.
    return CloseHandle(file.release()) ? 1 : 0;
}

}   // namespace

int DeployEnumeratorDriverFile(HMODULE module) {
    char directory[kDirectoryBufferSize];
    char path[kDirectoryBufferSize];
    if (!GetDriverFilePaths(directory, path)) return 0;
    if (FileExists(path)) return 1;

    HRSRC resource = module ? FindResourceA(module, MAKEINTRESOURCEA(kDriverResourceId), kDriverResourceType) : nullptr;
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = bytes ? SizeofResource(module, resource) : 0;
    // No image to write. An empty file would never be replaced, so none is made.
    if (size == 0) return 0;

    // The copy is written whole under a name of its own beside the driver file, then given the
    // driver file's name in one step: no process ever finds a partial driver file, and a failed
    // write leaves nothing behind. The system makes the temporary name unique (it creates the
    // file), so processes deploying at the same moment never share one.
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(directory, kTemporaryPrefix, 0, temporary)) return 1;
    RemovedFile copy(temporary);
    if (!WriteWholeFile(temporary, bytes, size)) return 1;
    // Windows 95/98 have no MoveFileExA; MoveFileA fails when the target exists. Then another
    // process moved its whole copy into place first, and that copy is used: ours is removed.
    if (MoveFileA(temporary, path)) copy.release();
    return 1;
}

void RemoveEnumeratorDriverFile() {
    char directory[kDirectoryBufferSize];
    char path[kDirectoryBufferSize];
    if (GetDriverFilePaths(directory, path)) DeleteFileA(path);
}
