// The test device's configuration and log, shared by the device (ORV_DE.VXD built from
// test_device.cpp) and the tests that drive it (test_device_control.h).
//
// The device stands in for the kernel behind "\\.\ORV_DE.vxd": in Windows 98 mode the
// platform loads a PE DLL of that name (from the program's directory first) and routes every
// DeviceIoControl on the handle to the DLL's own DeviceIoControl export. Because the platform
// takes the module that is already loaded, a test that loads the same file first and calls
// the exports below configures the very module that will answer the requests.
#pragma once

#include <windows.h>

// One request as the device received it.
struct TestDeviceRequest {
    DWORD code;
    DWORD index;   // the first four input bytes, 0xFFFFFFFF when the input is shorter
    DWORD inputSize;
    DWORD outputSize;
    BOOL inputPresent;
    BOOL outputPresent;
};

// Replaces the device's answer to one request: the ordinal-th request (from 0) with that
// code, or every one of them when ordinal is kEveryRequest. The device writes its normal
// reply into the output when writeReply is TRUE and nothing otherwise, then reports
// byteCount and result (and lastError when result is FALSE).
struct TestDeviceOverride {
    DWORD code;
    DWORD ordinal;
    BOOL writeReply;
    DWORD byteCount;
    BOOL result;
    DWORD lastError;
};

const DWORD kEveryRequest = 0xFFFFFFFFu;
const DWORD kTestDeviceMaxModules = 2048;
const DWORD kTestDeviceMaxDevices = 512;
const DWORD kTestDeviceMaxOverrides = 8;
const DWORD kTestDeviceMaxLog = 4096;

extern "C" {
// Forgets every module, device, override and logged request.
typedef void(__cdecl* TestDeviceResetProc)();
// Appends a dynamically loaded module; its record carries the first 16 bytes of name (the
// name may be longer), zero-filled after a shorter name. A null name: the module's record in
// the system's list has no name.
typedef BOOL(__cdecl* TestDeviceAddModuleProc)(const char* name, BYTE loadCount);
// Appends a device to the chain; name is its 8 name bytes, taken as they are.
typedef BOOL(__cdecl* TestDeviceAddDeviceProc)(const char* name8);
typedef BOOL(__cdecl* TestDeviceAddOverrideProc)(const TestDeviceOverride* override);
typedef DWORD(__cdecl* TestDeviceRequestCountProc)();
typedef BOOL(__cdecl* TestDeviceGetRequestProc)(DWORD n, TestDeviceRequest* request);
}
