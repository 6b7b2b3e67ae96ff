// Shared by the server's tests: the built DLL, its real exports, programs run in the prefix,
// and registry reading.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "registry_keys.h"
#include "test_files.h"

// A build path as a Windows path (Wine maps the Unix root to drive Z:).
std::string WindowsPath(const char* path);
// The built Brantovix.dll as a Windows path.
std::string ServerDllPath();
std::wstring Widen(const std::string& text);

// Brantovix.dll loaded into the test process, with its class-object exports.
struct LoadedServer {
    typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFunction)();

    LoadedServer();
    ~LoadedServer();

    HMODULE module = nullptr;
    GetClassObjectFunction getClassObject = nullptr;
    CanUnloadNowFunction canUnloadNow = nullptr;
};

// The enumerator driver file that instances deploy: the system directory + "\ORV_DE.VXD".
std::string DeployedDriverPath();

// Creating objects writes the enumerator driver file and may create the version cache key;
// this removes on destruction what was absent on construction.
class MachineStateGuard {
public:
    MachineStateGuard();
    ~MachineStateGuard();

private:
    bool driverFileExisted_;
    bool makerKeyExisted_;
};

// Runs a command line in the prefix and returns its exit code (or -1 when it cannot start).
DWORD RunProgram(const std::string& commandLine);

// The string value (name "" for the default); present is false when the key or value is missing.
std::string ReadString(HKEY root, const std::string& path, const std::string& name, bool* present = nullptr);
// Every key below (and including) path, as "key" -> "", and every value as "key|name" -> data.
std::map<std::string, std::string> SnapshotKey(HKEY root, const std::string& path);
