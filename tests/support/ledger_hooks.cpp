#include "ledger_hooks.h"

namespace {

struct KeyState {
    HandleLedger* keys = nullptr;
    int failedOpens = 0;
    decltype(&RegOpenKeyExA) openKey = nullptr;
    decltype(&RegCreateKeyExA) createKey = nullptr;
    decltype(&RegCloseKey) closeKey = nullptr;
};
KeyState g_keys;

LONG WINAPI LedgerOpenKey(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    const LONG status = g_keys.openKey(parent, path, options, access, key);
    if (status == ERROR_SUCCESS) {
        g_keys.keys->Opened(*key);
    } else {
        ++g_keys.failedOpens;
        *key = RegistryKeyHooks::kNoKey;
    }
    return status;
}
LONG WINAPI LedgerCreateKey(HKEY parent, LPCSTR path, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                            LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    const LONG status =
        g_keys.createKey(parent, path, reserved, className, options, access, security, key, disposition);
    if (status == ERROR_SUCCESS)
        g_keys.keys->Opened(*key);
    else
        *key = RegistryKeyHooks::kNoKey;
    return status;
}
LONG WINAPI LedgerCloseKey(HKEY key) {
    g_keys.keys->Closed(key);
    return key == RegistryKeyHooks::kNoKey ? ERROR_INVALID_HANDLE : g_keys.closeKey(key);
}

struct FileState {
    HandleLedger* handles = nullptr;
    std::vector<std::string>* created = nullptr;
    DWORD createError = 0;
    DWORD closeError = 0;
    decltype(&CreateFileA) createFile = nullptr;
    decltype(&CloseHandle) closeHandle = nullptr;
    decltype(&FindFirstFileA) findFirst = nullptr;
    decltype(&FindClose) findClose = nullptr;
};
FileState g_files;

HANDLE WINAPI LedgerCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
    if (g_files.created) g_files.created->push_back(path);
    if (g_files.createError) {
        SetLastError(g_files.createError);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = g_files.createFile(path, access, share, security, disposition, attributes, templateFile);
    if (file != INVALID_HANDLE_VALUE) g_files.handles->Opened(file);
    return file;
}
BOOL WINAPI LedgerCloseHandle(HANDLE handle) {
    g_files.handles->Closed(handle);
    const BOOL closed = g_files.closeHandle(handle);
    if (g_files.closeError) {
        SetLastError(g_files.closeError);   // as a deferred write that failed, reported at the close
        return FALSE;
    }
    return closed;
}
HANDLE WINAPI LedgerFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HANDLE search = g_files.findFirst(pattern, found);
    if (search != INVALID_HANDLE_VALUE) g_files.handles->Opened(search);
    return search;
}
BOOL WINAPI LedgerFindClose(HANDLE search) {
    g_files.handles->Closed(search);
    return g_files.findClose(search);
}

}   // namespace

const HKEY RegistryKeyHooks::kNoKey = reinterpret_cast<HKEY>(0x0BADF00D);

RegistryKeyHooks::RegistryKeyHooks(HandleLedger& keys)
    : open_("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&LedgerOpenKey)),
      create_("advapi32.dll", "RegCreateKeyExA", reinterpret_cast<void*>(&LedgerCreateKey)),
      close_("advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&LedgerCloseKey)) {
    g_keys.keys = &keys;
    g_keys.failedOpens = 0;
    g_keys.openKey = reinterpret_cast<decltype(&RegOpenKeyExA)>(open_.previous());
    g_keys.createKey = reinterpret_cast<decltype(&RegCreateKeyExA)>(create_.previous());
    g_keys.closeKey = reinterpret_cast<decltype(&RegCloseKey)>(close_.previous());
}
RegistryKeyHooks::~RegistryKeyHooks() = default;   // the patches come off before the state is stale
bool RegistryKeyHooks::Installed() const {
    return g_keys.openKey && g_keys.createKey && g_keys.closeKey;
}
int RegistryKeyHooks::failedOpens() const {
    return g_keys.failedOpens;
}

FileHandleHooks::FileHandleHooks(HandleLedger& handles, std::vector<std::string>* created)
    : create_("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&LedgerCreateFile)),
      close_("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&LedgerCloseHandle)),
      findFirst_("kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(&LedgerFindFirst)),
      findClose_("kernel32.dll", "FindClose", reinterpret_cast<void*>(&LedgerFindClose)) {
    g_files.handles = &handles;
    g_files.created = created;
    g_files.createError = 0;
    g_files.closeError = 0;
    g_files.createFile = reinterpret_cast<decltype(&CreateFileA)>(create_.previous());
    g_files.closeHandle = reinterpret_cast<decltype(&CloseHandle)>(close_.previous());
    g_files.findFirst = reinterpret_cast<decltype(&FindFirstFileA)>(findFirst_.previous());
    g_files.findClose = reinterpret_cast<decltype(&FindClose)>(findClose_.previous());
}
FileHandleHooks::~FileHandleHooks() = default;
bool FileHandleHooks::Installed() const {
    return g_files.createFile && g_files.closeHandle && g_files.findFirst && g_files.findClose;
}
void FileHandleHooks::FailCreateWith(DWORD error) {
    g_files.createError = error;
}
void FileHandleHooks::FailCloseWith(DWORD error) {
    g_files.closeError = error;
}
