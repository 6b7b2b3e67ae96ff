// The ledger side of the import hooks (import_hooks.h), on this test executable: what the
// product code linked into it opens is entered in a HandleLedger, and its closes are checked
// against it. One set of each kind lives at a time; the patches come off when it goes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handle_ledger.h"
#include "import_hooks.h"

// Registry keys: RegOpenKeyExA and RegCreateKeyExA enter the key they hand out, RegCloseKey
// closes it. A failed open or create leaves kNoKey in its out-parameter, which opened nothing,
// so that closing what a failed call left is a fault the ledger reports.
class RegistryKeyHooks {
public:
    explicit RegistryKeyHooks(HandleLedger& keys) : hooks_(GetModuleHandleA(nullptr), kKeyLedgerHooks) {
        Hooked().keys = &keys;
        Hooked().failedOpens = 0;
    }
    ~RegistryKeyHooks() { Hooked().keys = nullptr; }
    // Every import was found and patched.
    bool Installed() const { return hooks_.missing().empty(); }
    // Opens (RegOpenKeyExA) that failed while the hooks were in place.
    int failedOpens() const { return Hooked().failedOpens; }

private:
    ImportHooks hooks_;
};

// Files and directory searches: CreateFileA and FindFirstFileA enter the handle they hand out,
// CloseHandle and FindClose close it. Every path given to CreateFileA is added to `created`
// when there is one. A test can make CreateFileA fail before it opens anything, or CloseHandle
// report an error after it closed.
class FileHandleHooks {
public:
    explicit FileHandleHooks(HandleLedger& handles, std::vector<std::string>* created = nullptr)
        : hooks_(GetModuleHandleA(nullptr), kFileLedgerHooks) {
        HookedCalls& h = Hooked();
        h.files = &handles;
        h.searches = &handles;
        h.createdPaths = created;
        h.createError = 0;
        h.closeError = 0;
    }
    ~FileHandleHooks() {
        HookedCalls& h = Hooked();
        h.files = h.searches = nullptr;
        h.createdPaths = nullptr;
        h.createError = h.closeError = 0;
    }
    bool Installed() const { return hooks_.missing().empty(); }
    void FailCreateWith(DWORD error) { Hooked().createError = error; }
    void FailCloseWith(DWORD error) { Hooked().closeError = error; }

private:
    ImportHooks hooks_;
};
