// Registry checks of the tests, on the platform's real registry.
#pragma once

#include <windows.h>

#include <string>

// True when root\path opens for reading.
inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Deletes root\path with every key below it: the platform's RegDeleteKeyA leaves a key that has
// subkeys in place. A missing key is fine. A subkey that cannot be deleted ends the walk of its
// parent rather than being tried again forever, and leaves the parent in place. True when
// root\path is gone.
inline bool DeleteKeyTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char name[1024];
        for (;;) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (!DeleteKeyTree(key, name)) break;
        }
        RegCloseKey(key);
    }
    RegDeleteKeyA(root, path.c_str());
    return !KeyExists(root, path);
}
