// The enumerator driver file in the system directory: deployed from a module's "DRIVER" 201
// resource (this test executable carries one, a known payload), kept when present, never left
// partial, and removed. Faults are injected through the executable's own imports, which the
// product code linked into it calls.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "enumerator_driver_file.h"
#include "file_aside.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "ledger_hooks.h"
#include "test_files.h"

namespace {

// What the platform fakes see. Every fake passes through to the real function unless a fault
// is asked for; files and searches opened are entered in the ledger (ledger_hooks.h), closes
// checked against it.
struct Platform {
    HandleLedger ledger;
    std::vector<std::string> created;   // every path the deployment created or opened for writing
    enum Fault {
        kNone,
        kCreateFails,
        kWriteFails,
        kWriteShort,
        kFlushFails,
        kCloseFails,
        kMoveFails,
        kOtherCopyFirst
    } fault = kNone;
    std::string otherCopy;   // kOtherCopyFirst: what another process puts in place first

    decltype(&WriteFile) writeFile = nullptr;
    decltype(&FlushFileBuffers) flush = nullptr;
    decltype(&MoveFileA) moveFile = nullptr;
};
Platform* g_platform = nullptr;

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
BOOL WINAPI FakeMoveFile(LPCSTR from, LPCSTR to) {
    if (g_platform->fault == Platform::kMoveFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (g_platform->fault == Platform::kOtherCopyFirst) WriteFileBytes(to, g_platform->otherCopy);
    return g_platform->moveFile(from, to);
}

// The fakes in place for one deployment or removal.
class PatchedPlatform {
public:
    explicit PatchedPlatform(Platform& platform)
        : files_(platform.ledger, &platform.created),
          write_("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FakeWriteFile)),
          flush_("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&FakeFlush)),
          move_("kernel32.dll", "MoveFileA", reinterpret_cast<void*>(&FakeMoveFile)) {
        if (platform.fault == Platform::kCreateFails) files_.FailCreateWith(ERROR_DISK_FULL);
        if (platform.fault == Platform::kCloseFails) files_.FailCloseWith(ERROR_WRITE_FAULT);
        platform.writeFile = reinterpret_cast<decltype(&WriteFile)>(write_.previous());
        platform.flush = reinterpret_cast<decltype(&FlushFileBuffers)>(flush_.previous());
        platform.moveFile = reinterpret_cast<decltype(&MoveFileA)>(move_.previous());
        g_platform = &platform;
    }
    ~PatchedPlatform() { g_platform = nullptr; }
    bool Complete(const Platform& p) const { return files_.Installed() && p.writeFile && p.flush && p.moveFile; }

private:
    FileHandleHooks files_;
    ScopedImportPatch write_, flush_, move_;
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
        EXPECT_TRUE(patched.Complete(platform_)) << "an import the deployment uses is missing";
        return DeployEnumeratorDriverFile(module);
    }
    // Names in the system directory now that were not there before the test.
    std::set<std::string> NewNames() { return NamesAddedTo(directory_, before_); }

    const std::string directory_ = SystemDirectory();
    const std::string driverFile_ = directory_ + "\\ORV_DE.VXD";
    const std::string payload_ = ReadFileBytes(DEPLOY_PAYLOAD);
    FileAside aside_{driverFile_};   // a driver file that was there comes back after the test
    std::set<std::string> before_;
    Platform platform_;
};

TEST_F(EnumeratorDriverFile, AbsentFileIsWrittenFromTheModulesResourceByteForByte) {
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(payload_, ReadFileBytes(driverFile_));
    EXPECT_EQ(std::set<std::string>{"ORV_DE.VXD"}, NewNames()) << "a temporary file stayed behind";
    EXPECT_EQ("", platform_.ledger.Faults());
    EXPECT_GE(platform_.ledger.opens(), 1);   // the file written went through the ledger
}

TEST_F(EnumeratorDriverFile, PresentFileIsUsedWhateverItHolds) {
    for (const std::string& held : {std::string(), std::string("another driver"), payload_ + "x"}) {
        WriteFileBytes(driverFile_, held);
        EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
        EXPECT_EQ(held, ReadFileBytes(driverFile_));
        EXPECT_TRUE(platform_.created.empty()) << platform_.created.front();
    }
    EXPECT_EQ("", platform_.ledger.Faults());
}

TEST_F(EnumeratorDriverFile, ModuleWithoutTheResourceDeploysNothing) {
    // kernel32 carries no "DRIVER" 201 resource; a null module is none at all.
    for (HMODULE module : {GetModuleHandleA("kernel32.dll"), HMODULE()}) {
        EXPECT_EQ(0, Deploy(module));
        EXPECT_FALSE(FileExists(driverFile_));
    }
    EXPECT_TRUE(NewNames().empty());
    EXPECT_TRUE(platform_.created.empty());
    EXPECT_EQ("", platform_.ledger.Faults());
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
        EXPECT_FALSE(FileExists(driverFile_)) << c.what;
        EXPECT_TRUE(NewNames().empty()) << c.what << ": " << *NewNames().begin();
        for (const std::string& path : platform_.created) EXPECT_FALSE(FileExists(path)) << c.what << ": " << path;
        EXPECT_FALSE(platform_.created.empty()) << c.what;
        EXPECT_EQ("", platform_.ledger.Faults()) << c.what;

        // The next attempt, without the fault, deploys the whole file.
        platform_ = Platform();
        EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr))) << c.what;
        EXPECT_EQ(payload_, ReadFileBytes(driverFile_)) << c.what;
        DeleteFileA(driverFile_.c_str());
    }
}

// Two processes that both found the file absent: the one that moves its copy into place second
// finds the other's whole copy there, uses it and removes its own.
TEST_F(EnumeratorDriverFile, CopyAnotherProcessMovedIntoPlaceFirstIsUsed) {
    platform_.fault = Platform::kOtherCopyFirst;
    platform_.otherCopy = "the other process's whole copy";
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(platform_.otherCopy, ReadFileBytes(driverFile_));
    EXPECT_EQ(std::set<std::string>{"ORV_DE.VXD"}, NewNames()) << "a temporary file stayed behind";
    EXPECT_EQ("", platform_.ledger.Faults());
}

TEST_F(EnumeratorDriverFile, RemovalDeletesTheFileAndBearsItsAbsence) {
    WriteFileBytes(driverFile_, payload_);
    RemoveEnumeratorDriverFile();
    EXPECT_FALSE(FileExists(driverFile_));
    RemoveEnumeratorDriverFile();
    EXPECT_FALSE(FileExists(driverFile_));

    // Removed, the next deployment writes the module's copy again.
    EXPECT_EQ(1, Deploy(GetModuleHandleA(nullptr)));
    EXPECT_EQ(payload_, ReadFileBytes(driverFile_));
}

}   // namespace
