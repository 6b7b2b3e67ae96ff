// The caller's current directory, as a client of the inventory has it: a directory of the test's
// own under the temporary directory, made the process's current directory for the life of the
// object. The directory that was current before comes back afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

class CallersDirectory {
public:
    CallersDirectory() {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "bvxcwd" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path_.c_str(), nullptr);
        if (SetCurrentDirectoryA(path_.c_str())) current_ = Current();
    }
    ~CallersDirectory() {
        SetCurrentDirectoryA(previous_);
        RemoveDirectoryA(path_.c_str());
    }
    CallersDirectory(const CallersDirectory&) = delete;
    CallersDirectory& operator=(const CallersDirectory&) = delete;

    // The current directory as the platform reported it once it was entered; empty when it
    // could not be entered.
    const std::string& Path() const { return current_; }

    static std::string Current() {
        char directory[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof(directory), directory);
        return directory;
    }

    // The process's current directory is still this one.
    ::testing::AssertionResult IsCurrent() const {
        const std::string now = Current();
        if (!current_.empty() && lstrcmpiA(now.c_str(), current_.c_str()) == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "current directory " << now << ", the caller's was " << current_;
    }

    // Creates a file by a relative name, as a client would after the inventory, and checks that
    // it landed in this directory. The file is removed again.
    ::testing::AssertionResult RelativeFileLandsHere(const char* name) const {
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return ::testing::AssertionFailure() << "cannot create " << name;
        char landed[MAX_PATH] = {};
        GetFullPathNameA(name, MAX_PATH, landed, nullptr);
        CloseHandle(file);
        const std::string here = path_ + "\\" + name;
        const bool found = GetFileAttributesA(here.c_str()) != INVALID_FILE_ATTRIBUTES;
        DeleteFileA(landed);
        if (found) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " landed at " << landed << ", not in " << path_;
    }

private:
    char previous_[MAX_PATH] = {};
    std::string path_;
    std::string current_;
};
