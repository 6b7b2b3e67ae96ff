#include "import_hooks.h"

#include <objbase.h>
#include <oleauto.h>

#include <set>

namespace {

HookedCalls g_hooked;
std::set<HANDLE> g_writing;   // files opened for writing, still open

// Whether this call of `kind` fails under the plan; `function` is recorded as the first failed.
bool Fails(CallKind kind, const char* function) {
    HookedCalls& h = g_hooked;
    if (!h.armed || kind != h.kind || h.failAt == 0) return false;
    ++h.calls;
    if (h.calls != h.failAt && !(h.lasting && h.calls > h.failAt)) return false;
    if (h.failed.empty()) h.failed = function;
    ++h.failures;
    return true;
}

// Runs one write between the observer's two calls.
class Write {
public:
    explicit Write(const char* function) : function_(function) {
        if (g_hooked.writeObserver) g_hooked.writeObserver(function_, false);
    }
    ~Write() {
        if (g_hooked.writeObserver) g_hooked.writeObserver(function_, true);
    }

private:
    const char* function_;
};

struct RealCalls {
    decltype(&RegOpenKeyExA) openKey;
    decltype(&RegCreateKeyExA) createKey;
    decltype(&RegCloseKey) closeKey;
    decltype(&RegSetValueExA) setValue;
    decltype(&RegDeleteKeyA) deleteKey;
    decltype(&RegDeleteValueA) deleteValue;
    decltype(&CreateFileA) createFile;
    decltype(&WriteFile) writeFile;
    decltype(&FlushFileBuffers) flush;
    decltype(&CloseHandle) closeHandle;
    decltype(&MoveFileA) moveFile;
    decltype(&DeleteFileA) deleteFile;
    decltype(&GetTempFileNameA) tempFileName;
    decltype(&FindFirstFileA) findFirst;
    decltype(&FindClose) findClose;
    decltype(&HeapAlloc) heapAlloc;
    decltype(&CoTaskMemAlloc) taskAlloc;
    decltype(&CoTaskMemRealloc) taskRealloc;
    decltype(&SysAllocString) allocString;
    decltype(&SysAllocStringLen) allocStringLen;
    decltype(&SysAllocStringByteLen) allocStringByteLen;
    decltype(&MessageBoxA) messageBox;
};
RealCalls g_real;

LONG WINAPI HookOpenKey(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    const LONG status = g_real.openKey(parent, path, options, access, key);
    if (status == ERROR_SUCCESS) {
        if (g_hooked.keys) g_hooked.keys->Opened(*key);
    } else {
        ++g_hooked.failedOpens;
        *key = kNoKey;
    }
    return status;
}
LONG WINAPI HookCreateKey(HKEY parent, LPCSTR path, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                          LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    Write write("RegCreateKeyExA");
    LONG status = ERROR_SUCCESS;
    if (Fails(CallKind::kRegistryWrite, "RegCreateKeyExA")) {
        status = ERROR_CANTWRITE;
    } else if (g_hooked.registryFull) {
        // A key that exists is opened; a new one needs room the registry does not have.
        status = g_real.openKey(parent, path, 0, access, key);
        if (status == ERROR_SUCCESS && disposition) *disposition = REG_OPENED_EXISTING_KEY;
        if (status != ERROR_SUCCESS) status = kRegistryFullError;
    } else {
        status = g_real.createKey(parent, path, reserved, className, options, access, security, key, disposition);
    }
    if (status == ERROR_SUCCESS) {
        if (g_hooked.keys) g_hooked.keys->Opened(*key);
    } else {
        *key = kNoKey;
    }
    return status;
}
LONG WINAPI HookCloseKey(HKEY key) {
    if (g_hooked.keys) g_hooked.keys->Closed(key);
    return key == kNoKey ? ERROR_INVALID_HANDLE : g_real.closeKey(key);
}
LONG WINAPI HookSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    Write write("RegSetValueExA");
    if (Fails(CallKind::kRegistryWrite, "RegSetValueExA")) return ERROR_CANTWRITE;
    if (g_hooked.registryFull) return kRegistryFullError;
    return g_real.setValue(key, name, reserved, type, data, size);
}
LONG WINAPI HookDeleteKey(HKEY parent, LPCSTR name) {
    Write write("RegDeleteKeyA");
    if (Fails(CallKind::kRegistryWrite, "RegDeleteKeyA")) return ERROR_CANTWRITE;
    return g_real.deleteKey(parent, name);
}
LONG WINAPI HookDeleteValue(HKEY key, LPCSTR name) {
    Write write("RegDeleteValueA");
    if (Fails(CallKind::kRegistryWrite, "RegDeleteValueA")) return ERROR_CANTWRITE;
    return g_real.deleteValue(key, name);
}

HANDLE OpenFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                DWORD attributes, HANDLE templateFile, bool writing) {
    if (g_hooked.createdPaths) g_hooked.createdPaths->push_back(path);
    if (g_hooked.createError) {
        SetLastError(g_hooked.createError);
        return INVALID_HANDLE_VALUE;
    }
    if (writing && Fails(CallKind::kFileWrite, "CreateFileA")) {
        SetLastError(ERROR_DISK_FULL);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = g_real.createFile(path, access, share, security, disposition, attributes, templateFile);
    if (file != INVALID_HANDLE_VALUE) {
        if (g_hooked.files) g_hooked.files->Opened(file);
        if (writing) g_writing.insert(file);
    }
    return file;
}
HANDLE WINAPI HookCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD attributes, HANDLE templateFile) {
    const bool writing = (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    if (!writing) return OpenFile(path, access, share, security, disposition, attributes, templateFile, false);
    Write write("CreateFileA");
    return OpenFile(path, access, share, security, disposition, attributes, templateFile, true);
}
BOOL WINAPI HookWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    Write write("WriteFile");
    if (Fails(CallKind::kFileWrite, "WriteFile")) {
        // Half of it reaches the disk before the error.
        g_real.writeFile(file, bytes, size / 2, written, overlapped);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (size > g_hooked.diskRoom) {
        // What fits is written, and the call fails as the platform fails a write to a full disk.
        const DWORD room = g_hooked.diskRoom;
        g_hooked.diskRoom = 0;
        g_hooked.diskFullSeen = true;
        g_real.writeFile(file, bytes, room, written, overlapped);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (g_hooked.diskRoom != 0xFFFFFFFFu) g_hooked.diskRoom -= size;
    return g_real.writeFile(file, bytes, size, written, overlapped);
}
BOOL WINAPI HookFlush(HANDLE file) {
    Write write("FlushFileBuffers");
    if (Fails(CallKind::kFileWrite, "FlushFileBuffers")) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return g_real.flush(file);
}
BOOL WINAPI HookCloseHandle(HANDLE handle) {
    if (g_hooked.files) g_hooked.files->Closed(handle);
    const bool written = g_writing.erase(handle) != 0;
    const BOOL closed = g_real.closeHandle(handle);
    if (g_hooked.closeError || (written && Fails(CallKind::kFileWrite, "CloseHandle"))) {
        // A deferred write that failed, reported at the close.
        SetLastError(g_hooked.closeError ? g_hooked.closeError : ERROR_WRITE_FAULT);
        return FALSE;
    }
    return closed;
}
BOOL WINAPI HookMoveFile(LPCSTR from, LPCSTR to) {
    Write write("MoveFileA");
    if (Fails(CallKind::kFileWrite, "MoveFileA")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_real.moveFile(from, to);
}
// Deletions are watched as writes but never made to fail: a file that cannot be deleted stays
// whatever the code does, and what the sweeps check of files left behind would only restate it.
BOOL WINAPI HookDeleteFile(LPCSTR path) {
    Write write("DeleteFileA");
    return g_real.deleteFile(path);
}
UINT WINAPI HookTempFileName(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR name) {
    Write write("GetTempFileNameA");
    if (Fails(CallKind::kFileWrite, "GetTempFileNameA")) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    return g_real.tempFileName(directory, prefix, unique, name);
}
HANDLE WINAPI HookFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HANDLE search = g_real.findFirst(pattern, found);
    if (search != INVALID_HANDLE_VALUE && g_hooked.searches) g_hooked.searches->Opened(search);
    return search;
}
BOOL WINAPI HookFindClose(HANDLE search) {
    if (g_hooked.searches) g_hooked.searches->Closed(search);
    return g_real.findClose(search);
}

LPVOID WINAPI HookHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    return Fails(CallKind::kAllocation, "HeapAlloc") ? nullptr : g_real.heapAlloc(heap, flags, size);
}
LPVOID WINAPI HookTaskAlloc(SIZE_T size) {
    return Fails(CallKind::kAllocation, "CoTaskMemAlloc") ? nullptr : g_real.taskAlloc(size);
}
LPVOID WINAPI HookTaskRealloc(LPVOID block, SIZE_T size) {
    return Fails(CallKind::kAllocation, "CoTaskMemRealloc") ? nullptr : g_real.taskRealloc(block, size);
}
BSTR WINAPI HookAllocString(const OLECHAR* text) {
    return Fails(CallKind::kAllocation, "SysAllocString") ? nullptr : g_real.allocString(text);
}
BSTR WINAPI HookAllocStringLen(const OLECHAR* text, UINT length) {
    return Fails(CallKind::kAllocation, "SysAllocStringLen") ? nullptr : g_real.allocStringLen(text, length);
}
BSTR WINAPI HookAllocStringByteLen(LPCSTR text, UINT length) {
    return Fails(CallKind::kAllocation, "SysAllocStringByteLen") ? nullptr : g_real.allocStringByteLen(text, length);
}

int WINAPI HookMessageBox(HWND, LPCSTR text, LPCSTR, UINT) {
    ++g_hooked.boxes;
    g_hooked.lastBoxText = text ? text : "";
    return IDOK;
}

struct PatchPoint {
    unsigned group;
    const char* dll;
    const char* function;
    void* hook;
    void** real;
    bool required;   // the code under test makes these calls; the others only where its runtime does
};

template <typename Function>
void** Slot(Function* real) {
    return reinterpret_cast<void**>(real);
}
template <typename Function>
void* Hook(Function* hook) {
    return reinterpret_cast<void*>(hook);
}

const PatchPoint kPatchPoints[] = {
    {kKeyLedgerHooks, "advapi32.dll", "RegOpenKeyExA", Hook(&HookOpenKey), Slot(&g_real.openKey), true},
    {kKeyLedgerHooks, "advapi32.dll", "RegCreateKeyExA", Hook(&HookCreateKey), Slot(&g_real.createKey), true},
    {kKeyLedgerHooks, "advapi32.dll", "RegCloseKey", Hook(&HookCloseKey), Slot(&g_real.closeKey), true},
    {kWriteHooks, "advapi32.dll", "RegSetValueExA", Hook(&HookSetValue), Slot(&g_real.setValue), true},
    {kWriteHooks, "advapi32.dll", "RegDeleteKeyA", Hook(&HookDeleteKey), Slot(&g_real.deleteKey), true},
    {kWriteHooks, "advapi32.dll", "RegDeleteValueA", Hook(&HookDeleteValue), Slot(&g_real.deleteValue), true},
    {kFileLedgerHooks, "kernel32.dll", "CreateFileA", Hook(&HookCreateFile), Slot(&g_real.createFile), true},
    {kFileLedgerHooks, "kernel32.dll", "CloseHandle", Hook(&HookCloseHandle), Slot(&g_real.closeHandle), true},
    {kFileLedgerHooks, "kernel32.dll", "FindFirstFileA", Hook(&HookFindFirst), Slot(&g_real.findFirst), true},
    {kFileLedgerHooks, "kernel32.dll", "FindClose", Hook(&HookFindClose), Slot(&g_real.findClose), true},
    {kWriteHooks, "kernel32.dll", "WriteFile", Hook(&HookWriteFile), Slot(&g_real.writeFile), true},
    {kWriteHooks, "kernel32.dll", "FlushFileBuffers", Hook(&HookFlush), Slot(&g_real.flush), true},
    {kWriteHooks, "kernel32.dll", "MoveFileA", Hook(&HookMoveFile), Slot(&g_real.moveFile), true},
    {kWriteHooks, "kernel32.dll", "DeleteFileA", Hook(&HookDeleteFile), Slot(&g_real.deleteFile), true},
    {kWriteHooks, "kernel32.dll", "GetTempFileNameA", Hook(&HookTempFileName), Slot(&g_real.tempFileName), true},
    {kAllocationHooks, "kernel32.dll", "HeapAlloc", Hook(&HookHeapAlloc), Slot(&g_real.heapAlloc), true},
    {kAllocationHooks, "ole32.dll", "CoTaskMemAlloc", Hook(&HookTaskAlloc), Slot(&g_real.taskAlloc), true},
    {kAllocationHooks, "ole32.dll", "CoTaskMemRealloc", Hook(&HookTaskRealloc), Slot(&g_real.taskRealloc), false},
    {kAllocationHooks, "oleaut32.dll", "SysAllocString", Hook(&HookAllocString), Slot(&g_real.allocString), true},
    {kAllocationHooks, "oleaut32.dll", "SysAllocStringLen", Hook(&HookAllocStringLen), Slot(&g_real.allocStringLen),
     true},
    {kAllocationHooks, "oleaut32.dll", "SysAllocStringByteLen", Hook(&HookAllocStringByteLen),
     Slot(&g_real.allocStringByteLen), false},
    {kMessageBoxHooks, "user32.dll", "MessageBoxA", Hook(&HookMessageBox), Slot(&g_real.messageBox), true},
};

}   // namespace

const HKEY kNoKey = reinterpret_cast<HKEY>(0x0BADF00D);

HookedCalls& Hooked() {
    return g_hooked;
}

const char* KindName(CallKind kind) {
    switch (kind) {
    case CallKind::kRegistryWrite:
        return "RegistryWrites";
    case CallKind::kFileWrite:
        return "FileWrites";
    case CallKind::kAllocation:
        return "Allocations";
    }
    return "?";
}

ImportHooks::ImportHooks(HMODULE module, unsigned groups) {
    for (const PatchPoint& point : kPatchPoints) {
        if (!(point.group & groups)) continue;
        patches_.emplace_back(new ScopedImportPatch(module, point.dll, point.function, point.hook));
        void* previous = patches_.back()->previous();
        if (previous) *point.real = previous;
        if (point.required && !previous && missing_.empty()) missing_ = point.function;
    }
}

ImportHooks::~ImportHooks() = default;   // the patches come off in the order they went on, each on its own

void ArmFaults(CallKind kind, int failAt, bool lasting) {
    HookedCalls& h = g_hooked;
    h.kind = kind;
    h.failAt = failAt;
    h.lasting = lasting;
    h.calls = 0;
    h.failures = 0;
    h.failed.clear();
    h.armed = true;
}

void DisarmFaults() {
    g_hooked.armed = false;
}
