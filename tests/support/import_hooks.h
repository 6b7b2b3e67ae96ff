// The one layer of import hooks (import_patch.h) through which tests watch and steer the
// platform calls that product code makes: the code linked into a test executable, or a loaded
// Brantovix.dll, which calls through an import table of its own. One set of hooked functions
// serves every use:
//
//   ledgers   what is opened and closed (keys, files, directory searches) entered in
//             HandleLedgers, so that a test can state that everything opened is closed once
//   faults    registry writes, file writes or allocations made to fail: one call, or one call
//             and every later call of its kind; a full registry; a full disk
//   writes    an observer told immediately before and after every write to the registry or
//             the file system (a test program ends its own process there)
//   boxes     message boxes answered at once and counted
//
// The hooks are process-wide, as import tables are: one HookedCalls holds what they record and
// what they are told to do. A group of functions is patched on one module by an ImportHooks
// and unpatched when it goes.
//
// What counts as a write: every call that changes the registry or the file system.
//   registry  RegCreateKeyExA (it may create the key), RegSetValueExA, RegDeleteValueA,
//             RegDeleteKeyA
//   files     GetTempFileNameA (it creates the file), CreateFileA with write access (it creates
//             or truncates), WriteFile, FlushFileBuffers (deferred writes reach the disk),
//             MoveFileA, DeleteFileA
// CloseHandle is not one: what it could still write is flushed before (the product flushes),
// and a death just before or after it is a death after the flush or before the next write.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "handle_ledger.h"
#include "import_patch.h"

enum class CallKind { kRegistryWrite, kFileWrite, kAllocation };
const char* KindName(CallKind kind);

// The error RegSetValueExA answers on Windows 95/98 when the registry cannot grow for the value
// (the key's values would pass their 64 KB, or the registry file has no room). The platform's
// registry services report running out of registry space as ERROR_OUTOFMEMORY (14): it is the
// code their real-mode library shows for a registry too large to hold ("Unable to open registry
// (14)"); ERROR_REGISTRY_IO_FAILED belongs to the hive files of Windows NT, and no 95/98 write
// answers it.
const LONG kRegistryFullError = ERROR_OUTOFMEMORY;

// Told of every write: `done` false immediately before the call, true immediately after it.
using WriteObserver = void (*)(const char* function, bool done);

struct HookedCalls {
    // Ledgers (null: not recorded). A failed open or create leaves kNoKey in its out-parameter,
    // which opened nothing, so that closing what a failed call left is a fault a ledger reports.
    HandleLedger* keys = nullptr;
    HandleLedger* files = nullptr;                      // files and devices opened with CreateFileA
    HandleLedger* searches = nullptr;                   // FindFirstFileA
    std::vector<std::string>* createdPaths = nullptr;   // every path given to CreateFileA
    int failedOpens = 0;                                // RegOpenKeyExA that failed

    // Faults. CreateFileA fails with createError before opening anything; CloseHandle reports
    // closeError after it closed (as a deferred write that failed).
    DWORD createError = 0;
    DWORD closeError = 0;
    bool armed = false;   // the fault plan below is in force
    CallKind kind = CallKind::kRegistryWrite;
    int failAt = 0;                 // the first call of `kind` (from 1) that fails; 0: none
    bool lasting = false;           // and every later call of `kind` fails too
    int calls = 0;                  // calls of `kind` since armed
    int failures = 0;               // calls made to fail since armed
    std::string failed;             // the first function made to fail, "" when none was
    bool registryFull = false;      // RegSetValueExA and new keys: kRegistryFullError
    DWORD diskRoom = 0xFFFFFFFFu;   // bytes WriteFile may still write; then ERROR_DISK_FULL
    bool diskFullSeen = false;      // a WriteFile was cut short for want of room

    WriteObserver writeObserver = nullptr;

    int boxes = 0;   // message boxes shown (each answered IDOK at once)
    std::string lastBoxText;
};
HookedCalls& Hooked();
extern const HKEY kNoKey;

// Groups of functions patched together.
enum HookGroup : unsigned {
    kKeyLedgerHooks = 1,     // RegOpenKeyExA, RegCreateKeyExA, RegCloseKey
    kFileLedgerHooks = 2,    // CreateFileA, CloseHandle, FindFirstFileA, FindClose
    kWriteHooks = 4,         // RegSetValueExA, RegDeleteKeyA, RegDeleteValueA, WriteFile,
                             // FlushFileBuffers, MoveFileA, GetTempFileNameA, DeleteFileA
    kAllocationHooks = 8,    // HeapAlloc, CoTaskMemAlloc/Realloc, SysAllocString*
    kMessageBoxHooks = 16,   // MessageBoxA
    kEveryHook = 31,
};

class ImportHooks {
public:
    ImportHooks(HMODULE module, unsigned groups);
    ~ImportHooks();
    // "" when every function of the groups that the code under test calls was found and patched;
    // otherwise the first one missing.
    const std::string& missing() const { return missing_; }

private:
    std::vector<std::unique_ptr<ScopedImportPatch>> patches_;
    std::string missing_;
    ImportHooks(const ImportHooks&) = delete;
    ImportHooks& operator=(const ImportHooks&) = delete;
};

// Starts a plan: from the failAt-th call of `kind` (from 1), that call fails, and with
// `lasting` every later call of the kind too; failAt 0 fails none. Counts start afresh.
void ArmFaults(CallKind kind, int failAt, bool lasting);
// Later calls go through.
void DisarmFaults();
