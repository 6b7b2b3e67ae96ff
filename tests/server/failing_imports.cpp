#include "failing_imports.h"

#include <set>

#include "handle_ledger.h"

namespace {

// While armed, the failAt-th call (from 1) of the planned kind fails; `failed` names it.
struct FaultPlan {
    CallKind kind = CallKind::kRegistryWrite;
    int failAt = 0;
    bool armed = false;
    int calls = 0;
    std::string failed;
};
FaultPlan g_plan;

bool Fails(CallKind kind, const char* function) {
    if (!g_plan.armed || kind != g_plan.kind) return false;
    if (++g_plan.calls != g_plan.failAt) return false;
    g_plan.failed = function;
    return true;
}

HandleLedger g_keys;          // keys opened or created by the DLL
HandleLedger g_files;         // files and devices it opened
HandleLedger g_searches;      // directory searches
std::set<HANDLE> g_writing;   // files opened for writing, still open
int g_boxes = 0;
std::string g_boxText;

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

const HKEY kNoKey = reinterpret_cast<HKEY>(0x0BADF00D);   // what a failed open leaves behind

LONG WINAPI FakeOpenKey(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    const LONG status = g_real.openKey(parent, path, options, access, key);
    if (status == ERROR_SUCCESS) {
        g_keys.Opened(*key);
    } else {
        *key = kNoKey;
    }
    return status;
}
LONG WINAPI FakeCreateKey(HKEY parent, LPCSTR path, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                          LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    if (Fails(CallKind::kRegistryWrite, "RegCreateKeyExA")) {
        *key = kNoKey;
        return ERROR_CANTWRITE;
    }
    const LONG status =
        g_real.createKey(parent, path, reserved, className, options, access, security, key, disposition);
    if (status == ERROR_SUCCESS) {
        g_keys.Opened(*key);
    } else {
        *key = kNoKey;
    }
    return status;
}
LONG WINAPI FakeCloseKey(HKEY key) {
    g_keys.Closed(key);
    return key == kNoKey ? ERROR_INVALID_HANDLE : g_real.closeKey(key);
}
LONG WINAPI FakeSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (Fails(CallKind::kRegistryWrite, "RegSetValueExA")) return ERROR_CANTWRITE;
    return g_real.setValue(key, name, reserved, type, data, size);
}
LONG WINAPI FakeDeleteKey(HKEY parent, LPCSTR name) {
    if (Fails(CallKind::kRegistryWrite, "RegDeleteKeyA")) return ERROR_CANTWRITE;
    return g_real.deleteKey(parent, name);
}
LONG WINAPI FakeDeleteValue(HKEY key, LPCSTR name) {
    if (Fails(CallKind::kRegistryWrite, "RegDeleteValueA")) return ERROR_CANTWRITE;
    return g_real.deleteValue(key, name);
}

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD attributes, HANDLE templateFile) {
    const bool writing = (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    if (writing && Fails(CallKind::kFileWrite, "CreateFileA")) {
        SetLastError(ERROR_DISK_FULL);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = g_real.createFile(path, access, share, security, disposition, attributes, templateFile);
    if (file != INVALID_HANDLE_VALUE) {
        g_files.Opened(file);
        if (writing) g_writing.insert(file);
    }
    return file;
}
BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (Fails(CallKind::kFileWrite, "WriteFile")) {
        // Half of it reaches the disk before the error.
        g_real.writeFile(file, bytes, size / 2, written, overlapped);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return g_real.writeFile(file, bytes, size, written, overlapped);
}
BOOL WINAPI FakeFlush(HANDLE file) {
    if (Fails(CallKind::kFileWrite, "FlushFileBuffers")) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return g_real.flush(file);
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    g_files.Closed(handle);
    const bool written = g_writing.erase(handle) != 0;
    const BOOL closed = g_real.closeHandle(handle);
    if (written && Fails(CallKind::kFileWrite, "CloseHandle")) {
        SetLastError(ERROR_WRITE_FAULT);   // a deferred write that failed, reported at the close
        return FALSE;
    }
    return closed;
}
BOOL WINAPI FakeMoveFile(LPCSTR from, LPCSTR to) {
    if (Fails(CallKind::kFileWrite, "MoveFileA")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_real.moveFile(from, to);
}
UINT WINAPI FakeTempFileName(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR name) {
    if (Fails(CallKind::kFileWrite, "GetTempFileNameA")) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    return g_real.tempFileName(directory, prefix, unique, name);
}
HANDLE WINAPI FakeFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HANDLE search = g_real.findFirst(pattern, found);
    if (search != INVALID_HANDLE_VALUE) g_searches.Opened(search);
    return search;
}
BOOL WINAPI FakeFindClose(HANDLE search) {
    g_searches.Closed(search);
    return g_real.findClose(search);
}

LPVOID WINAPI FakeHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    return Fails(CallKind::kAllocation, "HeapAlloc") ? nullptr : g_real.heapAlloc(heap, flags, size);
}
LPVOID WINAPI FakeTaskAlloc(SIZE_T size) {
    return Fails(CallKind::kAllocation, "CoTaskMemAlloc") ? nullptr : g_real.taskAlloc(size);
}
LPVOID WINAPI FakeTaskRealloc(LPVOID block, SIZE_T size) {
    return Fails(CallKind::kAllocation, "CoTaskMemRealloc") ? nullptr : g_real.taskRealloc(block, size);
}
BSTR WINAPI FakeAllocString(const OLECHAR* text) {
    return Fails(CallKind::kAllocation, "SysAllocString") ? nullptr : g_real.allocString(text);
}
BSTR WINAPI FakeAllocStringLen(const OLECHAR* text, UINT length) {
    return Fails(CallKind::kAllocation, "SysAllocStringLen") ? nullptr : g_real.allocStringLen(text, length);
}
BSTR WINAPI FakeAllocStringByteLen(LPCSTR text, UINT length) {
    return Fails(CallKind::kAllocation, "SysAllocStringByteLen") ? nullptr : g_real.allocStringByteLen(text, length);
}

int WINAPI FakeMessageBox(HWND, LPCSTR text, LPCSTR, UINT) {
    ++g_boxes;
    g_boxText = text ? text : "";
    return IDOK;
}

struct PatchPoint {
    const char* dll;
    const char* function;
    void* fake;
    void** real;
    bool required;   // the DLL makes these calls; the others only where its runtime does
};

template <typename Function>
void** Slot(Function* real) {
    return reinterpret_cast<void**>(real);
}

const PatchPoint kPatchPoints[] = {
    {"advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&FakeOpenKey), Slot(&g_real.openKey), true},
    {"advapi32.dll", "RegCreateKeyExA", reinterpret_cast<void*>(&FakeCreateKey), Slot(&g_real.createKey), true},
    {"advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&FakeCloseKey), Slot(&g_real.closeKey), true},
    {"advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(&FakeSetValue), Slot(&g_real.setValue), true},
    {"advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void*>(&FakeDeleteKey), Slot(&g_real.deleteKey), true},
    {"advapi32.dll", "RegDeleteValueA", reinterpret_cast<void*>(&FakeDeleteValue), Slot(&g_real.deleteValue), true},
    {"kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&FakeCreateFile), Slot(&g_real.createFile), true},
    {"kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FakeWriteFile), Slot(&g_real.writeFile), true},
    {"kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&FakeFlush), Slot(&g_real.flush), true},
    {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&FakeCloseHandle), Slot(&g_real.closeHandle), true},
    {"kernel32.dll", "MoveFileA", reinterpret_cast<void*>(&FakeMoveFile), Slot(&g_real.moveFile), true},
    {"kernel32.dll", "GetTempFileNameA", reinterpret_cast<void*>(&FakeTempFileName), Slot(&g_real.tempFileName), true},
    {"kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(&FakeFindFirst), Slot(&g_real.findFirst), true},
    {"kernel32.dll", "FindClose", reinterpret_cast<void*>(&FakeFindClose), Slot(&g_real.findClose), true},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&FakeHeapAlloc), Slot(&g_real.heapAlloc), true},
    {"ole32.dll", "CoTaskMemAlloc", reinterpret_cast<void*>(&FakeTaskAlloc), Slot(&g_real.taskAlloc), true},
    {"ole32.dll", "CoTaskMemRealloc", reinterpret_cast<void*>(&FakeTaskRealloc), Slot(&g_real.taskRealloc), false},
    {"oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&FakeAllocString), Slot(&g_real.allocString), true},
    {"oleaut32.dll", "SysAllocStringLen", reinterpret_cast<void*>(&FakeAllocStringLen), Slot(&g_real.allocStringLen),
     true},
    {"oleaut32.dll", "SysAllocStringByteLen", reinterpret_cast<void*>(&FakeAllocStringByteLen),
     Slot(&g_real.allocStringByteLen), false},
    {"user32.dll", "MessageBoxA", reinterpret_cast<void*>(&FakeMessageBox), Slot(&g_real.messageBox), true},
};

}   // namespace

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

std::string KindParamName(const ::testing::TestParamInfo<CallKind>& info) {
    return KindName(info.param);
}

FailingImports::FailingImports(HMODULE module) {
    for (const PatchPoint& point : kPatchPoints) {
        patches_.emplace_back(new ScopedImportPatch(module, point.dll, point.function, point.fake));
        *point.real = patches_.back()->previous();
        if (point.required && !*point.real && missing_.empty()) missing_ = point.function;
    }
}

::testing::AssertionResult FailingImports::Complete() const {
    if (missing_.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the module does not import " << missing_;
}

void ArmFault(CallKind kind, int failAt) {
    g_plan = FaultPlan();
    g_plan.kind = kind;
    g_plan.failAt = failAt;
    g_keys = HandleLedger();
    g_files = HandleLedger();
    g_searches = HandleLedger();
    g_writing.clear();
    g_boxes = 0;
    g_boxText.clear();
    g_plan.armed = true;
}

void DisarmFault() {
    g_plan.armed = false;
}

std::string FailedCall() {
    return g_plan.failed;
}

int MessageBoxesShown() {
    return g_boxes;
}

std::string LastMessageBoxText() {
    return g_boxText;
}

::testing::AssertionResult EveryHandleClosedOnce() {
    const std::string keys = g_keys.Faults();
    if (!keys.empty()) return ::testing::AssertionFailure() << "keys: " << keys;
    const std::string files = g_files.Faults();
    if (!files.empty()) return ::testing::AssertionFailure() << "files: " << files;
    const std::string searches = g_searches.Faults();
    if (!searches.empty()) return ::testing::AssertionFailure() << "searches: " << searches;
    return ::testing::AssertionSuccess();
}
