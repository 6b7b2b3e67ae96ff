// Moves a file out of the way for the scope of a test and puts it back afterwards.
#pragma once

#include <windows.h>

#include <string>

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
