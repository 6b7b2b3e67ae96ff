// Files and directories as the tests look at them. Files are read and written through the C++
// streams, not through this executable's import table, so that a test's import patches
// (import_patch.h) never see the test's own file access.
#pragma once

#include <windows.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

inline std::string SystemDirectory() {
    char directory[MAX_PATH] = {};
    GetSystemDirectoryA(directory, MAX_PATH);
    return directory;
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Creates or replaces the file with exactly these bytes.
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The names in a directory (with "." and ".."), as the platform lists them or upper-cased.
inline std::set<std::string> DirectoryNames(const std::string& directory, bool upperCase = false) {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (upperCase) CharUpperBuffA(&name[0], static_cast<DWORD>(name.size()));
        names.insert(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The names in the directory now that were not among `before`.
inline std::set<std::string> NamesAddedTo(const std::string& directory, const std::set<std::string>& before) {
    std::set<std::string> added;
    for (const std::string& name : DirectoryNames(directory)) {
        if (!before.count(name)) added.insert(name);
    }
    return added;
}
