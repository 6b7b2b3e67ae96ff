// Import patches (import_patch.h) that enter what the product code in this test executable
// opens in a HandleLedger and check its closes against it. One set of each kind lives at a
// time; the patches come off when it goes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handle_ledger.h"
#include "import_patch.h"

// Registry keys: RegOpenKeyExA and RegCreateKeyExA enter the key they hand out, RegCloseKey
// closes it. A failed open or create leaves kNoKey in its out-parameter, which opened nothing,
// so that closing what a failed call left is a fault the ledger reports.
class RegistryKeyHooks {
public:
    static const HKEY kNoKey;

    explicit RegistryKeyHooks(HandleLedger& keys);
    ~RegistryKeyHooks();
    // Every import was found and patched.
    bool Installed() const;
    // Opens (RegOpenKeyExA) that failed while the hooks were in place.
    int failedOpens() const;

private:
    ScopedImportPatch open_, create_, close_;
    RegistryKeyHooks(const RegistryKeyHooks&) = delete;
    RegistryKeyHooks& operator=(const RegistryKeyHooks&) = delete;
};

// Files and directory searches: CreateFileA and FindFirstFileA enter the handle they hand out,
// CloseHandle and FindClose close it. Every path given to CreateFileA is added to `created`
// when there is one. A test can make CreateFileA fail before it opens anything, or CloseHandle
// report an error after it closed.
class FileHandleHooks {
public:
    explicit FileHandleHooks(HandleLedger& handles, std::vector<std::string>* created = nullptr);
    ~FileHandleHooks();
    bool Installed() const;
    void FailCreateWith(DWORD error);
    void FailCloseWith(DWORD error);

private:
    ScopedImportPatch create_, close_, findFirst_, findClose_;
    FileHandleHooks(const FileHandleHooks&) = delete;
    FileHandleHooks& operator=(const FileHandleHooks&) = delete;
};
