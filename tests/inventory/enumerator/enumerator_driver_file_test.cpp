// The enumerator driver file in the system directory: deployed from a module's "DRIVER" 201
// resource (this test executable carries one, a known payload), kept when present, never left
// partial, and removed. Faults are injected through the executable's own imports, which the
// product code linked into it calls.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "enumerator_driver_file.h"
#include "file_aside.h"
#include "handle_ledger.h"
#include "import_patch.h"

namespace {

std::string SystemDirectory() {
    char directory[MAX_PATH];
    GetSystemDirectoryA(directory, MAX_PATH);
    return directory;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::set<std::string> DirectoryNames(const std::string& directory) {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// What the platform fakes see. Every fake passes through to the real function unless a fault
// is asked for; files and searches opened are entered in the ledger, closes checked against it.
struct Platform {
    HandleLedger ledger;
    std::vector<std::string> created;   // every path the deployment created or opened for writing
    enum Fault { kNone, kCreateFails, kWriteFails, kWriteShort, kFlushFails, kCloseFails, kMoveFails,
                 kOtherCopyFirst } fault = kNone;
    std::string otherCopy;   // kOtherCopyFirst: what another process puts in place first

    decltype(&CreateFileA) createFile = nullptr;
    decltype(&WriteFile) writeFile = nullptr;
    decltype(&FlushFileBuffers) flush = nullptr;
    decltype(&CloseHandle) closeHandle = nullptr;
    decltype(&FindFirstFileA) findFirst = nullptr;
    decltype(&FindClose) findClose = nullptr;
    decltype(&MoveFileA) moveFile = nullptr;
};
Platform* g_platform = nullptr;

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD attributes, HANDLE templateFile) {
    g_platform->created.push_back(path);
    if (g_platform->fault == Platform::kCreateFails) {
        SetLastError(ERROR_DISK_FULL);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = g_platform->createFile(path, access, share, security, disposition, attributes, templateFile);
    if (file != INVALID_HANDLE_VALUE) g_platform->ledger.Opened(file);
    return file;
}
BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    switch (g_platform->fault) {
    case Platform::kWriteFails:
        // Half of it reaches the disk before the error.
        g_platform->writeFile(file, bytes, size / 2, written, overlapped);
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    case Platform::kWriteShort:
        return g_platform->writeFile(file, bytes, size / 2, written, overlapped);
    default:
        return g_platform->writeFile(file, bytes, size, written, overlapped);
    }
}
BOOL WINAPI FakeFlush(HANDLE file) {
    if (g_platform->fault == Platform::kFlushFails) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return g_platform->flush(file);
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    g_platform->ledger.Closed(handle);
    BOOL closed = g_platform->closeHandle(handle);
    if (g_platform->fault == Platform::kCloseFails) {
        SetLastError(ERROR_WRITE_FAULT);   // a deferred write that failed, reported at the close
        return FALSE;
    }
    return closed;
}
HANDLE WINAPI FakeFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HANDLE search = g_platform->findFirst(pattern, found);
    if (search != INVALID_HANDLE_VALUE) g_platform->ledger.Opened(search);
    return search;
}
BOOL WINAPI FakeFindClose(HANDLE search) {
    g_platform->ledger.Closed(search);
    return g_platform->findClose(search);
}
BOOL WINAPI FakeMoveFile(LPCSTR from, LPCSTR to) {
    if (g_platform->fault == Platform::kMoveFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (g_platform->fault == Platform::kOtherCopyFirst) WriteBytes(to, g_platform->otherCopy);
    return g_platform->moveFile(from, to);
}

// The fakes in place for one deployment or removal.
class PatchedPlatform {
public:
    explicit PatchedPlatform(Platform& platform)
        : create_("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&FakeCreateFile)),
          write_("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FakeWriteFile)),
          flush_("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&FakeFlush)),
          close_("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&FakeCloseHandle)),
          findFirst_("kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(&FakeFindFirst)),
          findClose_("kernel32.dll", "FindClose", reinterpret_cast<void*>(&FakeFindClose)),
          move_("kernel32.dll", "MoveFileA", reinterpret_cast<void*>(&FakeMoveFile)) {
        platform.createFile = reinterpret_cast<decltype(&CreateFileA)>(create_.previous());
        platform.writeFile = reinterpret_cast<decltype(&WriteFile)>(write_.previous());
        platform.flush = reinterpret_cast<decltype(&FlushFileBuffers)>(flush_.previous());
        platform.closeHandle = reinterpret_cast<decltype(&CloseHandle)>(close_.previous());
        platform.findFirst = reinterpret_cast<decltype(&FindFirstFileA)>(findFirst_.previous());
        platform.findClose = reinterpret_cast<decltype(&FindClose)>(findClose_.previous());
        platform.moveFile = reinterpret_cast<decltype(&MoveFileA)>(move_.previous());
        g_platform = &platform;
    }
    ~PatchedPlatform() { g_platform = nullptr; }
    static bool Complete(const Platform& p) {
        return p.createFile && p.writeFile && p.flush && p.closeHandle && p.findFirst && p.findClose &&
               p.moveFile;
    }

private:
    ScopedImportPatch create_, write_, flush_, close_, findFirst_, findClose_, move_;
};

class EnumeratorDriverFile : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(payload_.empty());
        DeleteFileA(driverFile_.c_str());
        before_ = DirectoryNames(directory_);
    }
    void TearDown() override { DeleteFileA(driverFile_.c_str()); }

    int Deploy(HMODULE module) {
        PatchedPlatform patched(platform_);
        EXPECT_TRUE(PatchedPlatform::Complete(platform_)) << "an import the deployment uses is missing";
        return DeployEnumeratorDriverFile(module);
    }
    // Names in the system directory now that were not there before the test.
    std::set<std::string> NewNames() {
        std::set<std::string> added;
        for (const std::string& name : DirectoryNames(directory_)) {
            if (!before_.count(name)) added.insert(name);
        }
        return added;
    }

    const std::string directory_ = SystemDirectory();
    const std::string driverFile_ = directory_ + "\\ORV_DE.VXD";
    const std::string payload_ = ReadBytes(DEPLOY_PAYLOAD);
    FileAside aside_{driverFile_};   // a driver file that was there comes back after the test
    std::set<std::string> before_;
    Platform platform_;
};

TEST_F(EnumeratorDriverFile, AbsentFileIsWrittenFromTheModulesResourceByteForByte) {
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(payload_, ReadBytes(driverFile_));
    EXPECT_EQ(std::set<std::string>{"ORV_DE.VXD"}, NewNames()) << "a temporary file stayed behind";
    EXPECT_TRUE(platform_.ledger.Balanced());
    EXPECT_GE(platform_.ledger.opens(), 1);   // the file written went through the ledger
}

TEST_F(EnumeratorDriverFile, PresentFileIsUsedWhateverItHolds) {
    for (const std::string& held : {std::string(), std::string("another driver"), payload_ + "x"}) {
        WriteBytes(driverFile_, held);
        EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
        EXPECT_EQ(held, ReadBytes(driverFile_));
        EXPECT_TRUE(platform_.created.empty()) << platform_.created.front();
    }
    EXPECT_TRUE(platform_.ledger.Balanced());
}

TEST_F(EnumeratorDriverFile, ModuleWithoutTheResourceDeploysNothing) {
    // kernel32 carries no "DRIVER" 201 resource; a null module is none at all.
    for (HMODULE module : {GetModuleHandleA("kernel32.dll"), HMODULE()}) {
        EXPECT_EQ(0, Deploy(module));
        EXPECT_FALSE(Exists(driverFile_));
    }
    EXPECT_TRUE(NewNames().empty());
    EXPECT_TRUE(platform_.created.empty());
    EXPECT_TRUE(platform_.ledger.Balanced());
}

// A write that fails anywhere leaves no driver file, not even a partial one, and no temporary
// file. It was attempted: the inventory still runs, from what the system reports without it.
TEST_F(EnumeratorDriverFile, FailedWriteLeavesNoDriverFileAndNoTemporaryFile) {
    const struct {
        Platform::Fault fault;
        const char* what;
    } cases[] = {
        {Platform::kCreateFails, "the file cannot be created"},
        {Platform::kWriteFails, "the write fails halfway"},
        {Platform::kWriteShort, "the write comes up short"},
        {Platform::kFlushFails, "the flush fails"},
        {Platform::kCloseFails, "the close reports a failed write"},
        {Platform::kMoveFails, "the copy cannot be moved into place"},
    };
    for (const auto& c : cases) {
        platform_ = Platform();
        platform_.fault = c.fault;
        EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr))) << c.what;
        EXPECT_FALSE(Exists(driverFile_)) << c.what;
        EXPECT_TRUE(NewNames().empty()) << c.what << ": " << *NewNames().begin();
        for (const std::string& path : platform_.created) EXPECT_FALSE(Exists(path)) << c.what << ": " << path;
        EXPECT_FALSE(platform_.created.empty()) << c.what;
        EXPECT_TRUE(platform_.ledger.Balanced()) << c.what;

        // The next attempt, without the fault, deploys the whole file.
        platform_ = Platform();
        EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr))) << c.what;
        EXPECT_EQ(payload_, ReadBytes(driverFile_)) << c.what;
        DeleteFileA(driverFile_.c_str());
    }
}

// Two processes that both found the file absent: the one that moves its copy into place second
// finds the other's whole copy there, uses it and removes its own.
TEST_F(EnumeratorDriverFile, CopyAnotherProcessMovedIntoPlaceFirstIsUsed) {
    platform_.fault = Platform::kOtherCopyFirst;
    platform_.otherCopy = "the other process's whole copy";
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(platform_.otherCopy, ReadBytes(driverFile_));
    EXPECT_EQ(std::set<std::string>{"ORV_DE.VXD"}, NewNames()) << "a temporary file stayed behind";
    EXPECT_TRUE(platform_.ledger.Balanced());
}

TEST_F(EnumeratorDriverFile, RemovalDeletesTheFileAndBearsItsAbsence) {
    WriteBytes(driverFile_, payload_);
    RemoveEnumeratorDriverFile();
    EXPECT_FALSE(Exists(driverFile_));
    RemoveEnumeratorDriverFile();
    EXPECT_FALSE(Exists(driverFile_));

    // Removed, the next deployment writes the module's copy again.
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(payload_, ReadBytes(driverFile_));
}

}  // namespace
