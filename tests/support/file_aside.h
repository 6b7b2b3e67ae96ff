// Moves a file, or the driver files of a directory, out of the way for the scope of a test and
// puts them back afterwards.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "driver_machine.h"

class FileAside {
public:
    explicit FileAside(const std::string& path) : path_(path), aside_(path + ".aside") {
        moved_ = MoveFileA(path_.c_str(), aside_.c_str()) != FALSE;
    }
    ~FileAside() {
        if (moved_) MoveFileA(aside_.c_str(), path_.c_str());
    }
    FileAside(const FileAside&) = delete;
    FileAside& operator=(const FileAside&) = delete;

    bool Absent() const { return GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES; }

private:
    std::string path_, aside_;
    bool moved_;
};

// The driver files of one directory, moved to a folder of their own outside every scanned
// directory for the scope of a test and put back afterwards.
class DirectoryAside {
public:
    DirectoryAside() = default;
    DirectoryAside(const DirectoryAside&) = delete;
    DirectoryAside& operator=(const DirectoryAside&) = delete;
    ~DirectoryAside() {
        for (const auto& moved : moved_) MoveFileA(moved.second.c_str(), moved.first.c_str());
        if (!folder_.empty()) RemoveDirectoryA(folder_.c_str());
    }
    void Take(const std::string& directory) {
        char temporary[MAX_PATH];
        GetTempPathA(MAX_PATH, temporary);
        folder_ = std::string(temporary) + "brantovix_aside_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        for (const auto& listed : driver_fixtures::ListDriverFiles()) {
            if (lstrcmpiA(listed.directory.c_str(), directory.c_str()) != 0) continue;
            const std::string from = directory + "\\" + listed.name;
            const std::string to = folder_ + "\\" + listed.name;
            if (MoveFileA(from.c_str(), to.c_str())) moved_.emplace_back(from, to);
        }
    }

private:
    std::string folder_;
    std::vector<std::pair<std::string, std::string>> moved_;
};
