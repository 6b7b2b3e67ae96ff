// Test-side handle on the test device ORV_DE.VXD: deploys the built device where the product
// deploys its driver, as the system directory's ORV_DE.VXD (the one file the client lets the
// platform load for "\\.\ORV_DE.vxd"), and loads that file, so that the exports configure
// and read the very module that answers the requests. The deployed copy goes again with the
// object, and whatever the system directory held under that name comes back.
//
// A test that uses it builds with TEST_DEVICE_FILE, the built device's path
// (brantovix_use_test_device, cmake/BrantovixTesting.cmake).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "file_aside.h"
#include "test_device_protocol.h"

class TestDeviceControl {
public:
    TestDeviceControl() = default;
    TestDeviceControl(const TestDeviceControl&) = delete;
    TestDeviceControl& operator=(const TestDeviceControl&) = delete;
    ~TestDeviceControl() {
        if (module_) FreeLibrary(module_);
        if (deployed_) RemoveFile(FilePath());
        aside_.reset();
    }

    static std::string ProgramDirectory() {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string directory(path, length);
        return directory.substr(0, directory.find_last_of('\\'));
    }
    static std::string SystemDirectory() {
        char directory[MAX_PATH];
        UINT length = GetSystemDirectoryA(directory, MAX_PATH);
        return std::string(directory, length);
    }
    // The deployed device: the system directory's ORV_DE.VXD.
    static std::string FilePath() { return SystemDirectory() + "\\ORV_DE.VXD"; }

    // Removes a file, also one the platform still has loaded, which it refuses to delete but
    // lets rename: that one goes to the temporary directory, or where that is on another volume,
    // beside itself as "<name>.<process>.gone", which no test looks for and SweepRemoved deletes
    // once no process has it loaded.
    static void RemoveFile(const std::string& path) {
        if (DeleteFileA(path.c_str()) || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        char directory[MAX_PATH], moved[MAX_PATH];
        if (GetTempPathA(MAX_PATH, directory) && GetTempFileNameA(directory, "dev", 0, moved)) {
            DeleteFileA(moved);
            if (MoveFileA(path.c_str(), moved)) {
                DeleteFileA(moved);
                return;
            }
        }
        MoveFileA(path.c_str(), (path + "." + std::to_string(GetCurrentProcessId()) + ".gone").c_str());
    }
    static void SweepRemoved(const std::string& path) {
        const std::string directory = path.substr(0, path.find_last_of('\\') + 1);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path + ".*.gone").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            DeleteFileA((directory + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    // Copies the built device to the system directory, without loading it.
    bool Deploy() {
        if (deployed_) return true;
        aside_.reset(new FileAside(FilePath()));
        deployed_ = CopyFileA(TEST_DEVICE_FILE, FilePath().c_str(), FALSE) != FALSE;
        return deployed_;
    }

    // Deploys the device and loads the deployed file (the platform keeps it loaded once a
    // handle opened it).
    bool Load() {
        if (!Deploy()) return false;
        module_ = LoadLibraryA(FilePath().c_str());
        if (!module_) return false;
        reset_ = reinterpret_cast<TestDeviceResetProc>(Proc("TestDeviceReset"));
        addModule_ = reinterpret_cast<TestDeviceAddModuleProc>(Proc("TestDeviceAddModule"));
        addDevice_ = reinterpret_cast<TestDeviceAddDeviceProc>(Proc("TestDeviceAddDevice"));
        addOverride_ = reinterpret_cast<TestDeviceAddOverrideProc>(Proc("TestDeviceAddOverride"));
        requestCount_ = reinterpret_cast<TestDeviceRequestCountProc>(Proc("TestDeviceRequestCount"));
        getRequest_ = reinterpret_cast<TestDeviceGetRequestProc>(Proc("TestDeviceGetRequest"));
        return reset_ && addModule_ && addDevice_ && addOverride_ && requestCount_ && getRequest_;
    }
    HMODULE Module() const { return module_; }

    void Reset() { reset_(); }
    bool AddModule(const std::string& name, BYTE loadCount = 1) { return addModule_(name.c_str(), loadCount) != FALSE; }
    bool AddModuleWithoutName(BYTE loadCount = 1) { return addModule_(nullptr, loadCount) != FALSE; }
    // name: up to 8 characters, blank-padded to the 8 name bytes of a descriptor block.
    bool AddDevice(const std::string& name) {
        std::string bytes = name;
        bytes.resize(8, ' ');
        return addDevice_(bytes.data()) != FALSE;
    }
    bool AddOverride(const TestDeviceOverride& o) { return addOverride_(&o) != FALSE; }

    std::vector<TestDeviceRequest> Requests() const {
        std::vector<TestDeviceRequest> requests;
        DWORD count = requestCount_();
        for (DWORD i = 0; i < count; ++i) {
            TestDeviceRequest request;
            if (!getRequest_(i, &request)) break;
            requests.push_back(request);
        }
        return requests;
    }
    std::vector<TestDeviceRequest> RequestsOf(DWORD code) const {
        std::vector<TestDeviceRequest> selected;
        for (const TestDeviceRequest& r : Requests()) {
            if (r.code == code) selected.push_back(r);
        }
        return selected;
    }

private:
    FARPROC Proc(const char* name) { return GetProcAddress(module_, name); }

    std::unique_ptr<FileAside> aside_;   // whatever the system directory held before
    bool deployed_ = false;
    HMODULE module_ = nullptr;
    TestDeviceResetProc reset_ = nullptr;
    TestDeviceAddModuleProc addModule_ = nullptr;
    TestDeviceAddDeviceProc addDevice_ = nullptr;
    TestDeviceAddOverrideProc addOverride_ = nullptr;
    TestDeviceRequestCountProc requestCount_ = nullptr;
    TestDeviceGetRequestProc getRequest_ = nullptr;
};
