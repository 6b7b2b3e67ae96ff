#include "version_stamp.h"

#include <windows.h>

#include "owner.h"

namespace {

// Failures the version functions report that say nothing about the file's content: another
// program holds it in a conflicting mode or has it locked, or the system is short of handles.
// The next run reads the file again. A file gone or denied is told by the caller's own open and
// times: the platform gives "not found" also for files that hold no version resource.
bool IsPassingReadFailure(DWORD error) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_READY:
    case ERROR_NETNAME_DELETED:
    case ERROR_DRIVE_LOCKED:
        return true;
    default:
        return false;
    }
}

}   // namespace

StampRead ReadVersionStamp(const char* path, char* stamp) {
    stamp[0] = '\0';
    DWORD handle = 0;
    // The version functions say why they found no version only through the last error.
    SetLastError(ERROR_SUCCESS);
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0 && IsPassingReadFailure(GetLastError())) return StampRead::kNotNow;
    // The root block starts with its total length and its value length, two 16-bit words.
    if (size < 2 * sizeof(WORD)) return StampRead::kNoVersion;
    if (size > kLargestVersionInfo) return StampRead::kNoVersion;
    HeapArray<BYTE> info(new BYTE[size]);
    if (!info.get()) return StampRead::kNoMemory;
    SetLastError(ERROR_SUCCESS);
    if (!GetFileVersionInfoA(path, 0, size, info.get())) {
        return IsPassingReadFailure(GetLastError()) ? StampRead::kNotNow : StampRead::kNoVersion;
    }
    const WORD rootValueLength = reinterpret_cast<const WORD*>(info.get())[1];
    if (rootValueLength == 0) return StampRead::kNoVersion;   // no fixed file information

    void* value = nullptr;
    UINT valueLength = sizeof(VS_FIXEDFILEINFO);
    if (!VerQueryValueA(info.get(), "\\", &value, &valueLength) || !value) return StampRead::kNoVersion;
    // A damaged resource may point the record elsewhere: read it only inside the buffer.
    const BYTE* record = static_cast<const BYTE*>(value);
    if (record < info.get() || record + sizeof(VS_FIXEDFILEINFO) > info.get() + size) return StampRead::kNoVersion;
    const VS_FIXEDFILEINFO* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(record);

    const int major = HIWORD(fixed->dwFileVersionMS);
    const int minor = LOWORD(fixed->dwFileVersionMS);
    int third = HIWORD(fixed->dwFileVersionLS);
    int fourth = LOWORD(fixed->dwFileVersionLS);
    // Build numbers written into the wrong half (a large third and a small fourth number) are
    // put back in place.
    if (third > 99 && fourth <= 99) {
        const int exchanged = third;
        third = fourth;
        fourth = exchanged;
    }
    wsprintfA(stamp, "%02d.%02d.%02d.%04d", major, minor, third, fourth);
    return StampRead::kStamped;
}

bool LastWriteTimeNow(const char* path, FILETIME* lastWrite) {
    // Read access with full sharing, so that the open itself conflicts with as few other
    // programs as possible.
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && GetFileTime(file.get(), nullptr, nullptr, lastWrite);
}
