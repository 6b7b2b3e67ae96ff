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
