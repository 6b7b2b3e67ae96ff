// Windows 95/98's sharing rules for the version functions, put in force on Wine, which ignores
// them. How the 9x version functions open a file is not documented; this assumes the strictest
// reading: in compatibility mode, as an open without a sharing flag is. The MS-DOS rules then
// refuse that open while any other handle holds the file in a sharing mode, which every
// CreateFileA handle does. While an instance lives, this executable's imports of
// GetFileVersionInfoSizeA and GetFileVersionInfoA first try the file exclusively (the Wine
// rule that matches: an exclusive open fails while any other handle can read, write or delete
// it), and fail with ERROR_SHARING_VIOLATION, as the 9x functions would, where that is refused.
#pragma once

#include <windows.h>

#include "import_patch.h"

namespace compatibility_mode {

inline decltype(&GetFileVersionInfoSizeA) g_realInfoSize = nullptr;
inline decltype(&GetFileVersionInfoA) g_realInfo = nullptr;
inline int g_refusals = 0;

// Whether a compatibility-mode open of `path` would be refused now.
inline bool Refused(LPCSTR path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;   // the real call fails its own way
    ++g_refusals;
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
}

inline DWORD WINAPI InfoSize(LPCSTR path, LPDWORD handle) {
    if (Refused(path)) return 0;
    return g_realInfoSize(path, handle);
}

inline BOOL WINAPI Info(LPCSTR path, DWORD handle, DWORD size, LPVOID data) {
    if (Refused(path)) return FALSE;
    return g_realInfo(path, handle, size, data);
}

}   // namespace compatibility_mode

class CompatibilityModeVersionReads {
public:
    CompatibilityModeVersionReads() {
        compatibility_mode::g_realInfoSize = reinterpret_cast<decltype(&GetFileVersionInfoSizeA)>(size_.previous());
        compatibility_mode::g_realInfo = reinterpret_cast<decltype(&GetFileVersionInfoA)>(info_.previous());
        compatibility_mode::g_refusals = 0;
    }
    // Both imports were found and replaced.
    bool InForce() const { return size_.previous() && info_.previous(); }
    // Version reads refused since the rule came in force.
    int Refusals() const { return compatibility_mode::g_refusals; }

private:
    ScopedImportPatch size_{"version.dll", "GetFileVersionInfoSizeA",
                            reinterpret_cast<void*>(&compatibility_mode::InfoSize)};
    ScopedImportPatch info_{"version.dll", "GetFileVersionInfoA", reinterpret_cast<void*>(&compatibility_mode::Info)};
};
