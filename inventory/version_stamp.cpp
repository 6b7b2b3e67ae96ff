#include "version_stamp.h"

#include <windows.h>

#include "owner.h"

int ReadVersionStamp(const char* path, char* stamp) {
    stamp[0] = '\0';
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    // The root block starts with its total length and its value length, two 16-bit words.
    if (size < 2 * sizeof(WORD)) return 0;
    HeapArray<BYTE> info(new BYTE[size]);
    if (!info.get()) return kVersionStampUnread;
    if (!GetFileVersionInfoA(path, 0, size, info.get())) return 0;
    const WORD rootValueLength = reinterpret_cast<const WORD*>(info.get())[1];
    if (rootValueLength == 0) return 0;   // no fixed file information

    void* value = nullptr;
    UINT valueLength = sizeof(VS_FIXEDFILEINFO);
    if (!VerQueryValueA(info.get(), "\\", &value, &valueLength) || !value) return 0;
    // A damaged resource may point the record elsewhere: read it only inside the buffer.
    const BYTE* record = static_cast<const BYTE*>(value);
    if (record < info.get() || record + sizeof(VS_FIXEDFILEINFO) > info.get() + size) return 0;
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
    return 1;
}

int ReadHeldVersionStamp(const char* path, char* stamp, FILETIME* lastWrite) {
    stamp[0] = '\0';
    // Shared for reading only: while the handle is held the platform refuses to open the file
    // for writing, to replace it and to delete it, so the version read below comes from the
    // content whose time is taken here. A program that sets only the time meanwhile leaves that
    // content as it is.
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return 0;
    if (!GetFileTime(file.get(), nullptr, nullptr, lastWrite)) return 0;
    return ReadVersionStamp(path, stamp) == kVersionStampUnread ? kVersionStampUnread : 1;
}
