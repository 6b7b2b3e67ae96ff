// Test-side handle on the test device ORV_DE.VXD: loads the file that the platform will use
// for "\\.\ORV_DE.vxd" (the copy in the program's directory, which the platform looks at
// first), so that the exports configure and read the very module that answers the requests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "test_device_protocol.h"

class TestDeviceControl {
public:
    static std::string ProgramDirectory() {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string directory(path, length);
        return directory.substr(0, directory.find_last_of('\\'));
    }
    static std::string FilePath() { return ProgramDirectory() + "\\ORV_DE.VXD"; }

    // Loads the device's file (the platform keeps it loaded once a handle opened it).
    bool Load() {
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

    HMODULE module_ = nullptr;
    TestDeviceResetProc reset_ = nullptr;
    TestDeviceAddModuleProc addModule_ = nullptr;
    TestDeviceAddDeviceProc addDevice_ = nullptr;
    TestDeviceAddOverrideProc addOverride_ = nullptr;
    TestDeviceRequestCountProc requestCount_ = nullptr;
    TestDeviceGetRequestProc getRequest_ = nullptr;
};
