// StrictRegistry: the registry limits of Windows 95/98, which Wine does not enforce, imposed on
// the code linked into a test executable (the product's and the test's own) through its
// import of RegSetValueExA. While one is in scope, a write is refused as Windows 98 would
// refuse it:
//   - a value of more than 16,300 bytes of data;
//   - a write after which the key's values (names and data counted) would pass 64 KB;
//   - a value name of more than 255 characters.
// Refused writes change nothing and are counted, so a test can tell that the limits were met
// rather than never reached. One at a time: a second one in scope would not see the first.
#pragma once

#include <windows.h>

#include "import_patch.h"

class StrictRegistry {
public:
    static const DWORD kMaxValueSize = 16300;
    static const DWORD kMaxKeyValuesSize = 64 * 1024;
    static const DWORD kMaxValueNameLength = 255;

    StrictRegistry() : patch_("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(&SetValue)) {
        original_ = reinterpret_cast<SetValueFunction>(patch_.previous());
        refused_ = 0;
        written_ = 0;
    }
    ~StrictRegistry() { original_ = nullptr; }

    // False when the executable does not import RegSetValueExA: then nothing is enforced.
    bool active() const { return original_ != nullptr; }
    static int refused() { return refused_; }
    static int written() { return written_; }

    // The size of a key's values as Windows 95/98 counts them toward the key's limit: every
    // value's name and data, optionally leaving out one value (the one about to be replaced).
    // The key is listed through a handle of its own that may read it: the writer's handle
    // may only have been opened to set values (Wine checks access masks, Windows 98 does not).
    static DWORD KeyValuesSize(HKEY key, const char* except = nullptr) {
        HKEY readable = nullptr;
        if (RegOpenKeyExA(key, "", 0, KEY_QUERY_VALUE, &readable) != ERROR_SUCCESS) return 0;
        DWORD total = 0;
        static char name[16384];   // longer than any value name the platform keeps
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = sizeof(name);
            DWORD dataLength = 0;
            const LONG status =
                RegEnumValueA(readable, index, name, &nameLength, nullptr, nullptr, nullptr, &dataLength);
            if (status != ERROR_SUCCESS) break;
            if (except && lstrcmpiA(name, except) == 0) continue;
            total += nameLength + dataLength;
        }
        RegCloseKey(readable);
        return total;
    }

private:
    using SetValueFunction = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);

    static LONG WINAPI SetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
        const DWORD nameLength = name ? static_cast<DWORD>(lstrlenA(name)) : 0;
        if (size > kMaxValueSize || nameLength > kMaxValueNameLength ||
            KeyValuesSize(key, name ? name : "") + nameLength + size > kMaxKeyValuesSize) {
            ++refused_;
            return ERROR_INVALID_PARAMETER;
        }
        ++written_;
        return original_(key, name, reserved, type, data, size);
    }

    ScopedImportPatch patch_;
    static SetValueFunction original_;
    static int refused_;
    static int written_;
};

inline StrictRegistry::SetValueFunction StrictRegistry::original_ = nullptr;
inline int StrictRegistry::refused_ = 0;
inline int StrictRegistry::written_ = 0;
