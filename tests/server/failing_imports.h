// Brantovix.dll loaded into the test process with its own import table hooked (it calls the
// platform through that table, not through the test executable's) by the one hook layer of the
// tests (import_hooks.h), so that a test can make its registry writes, file writes and
// allocations fail, one call at a time or from one call on:
//
//   registry writes  RegCreateKeyExA, RegSetValueExA, RegDeleteKeyA, RegDeleteValueA
//   file writes      GetTempFileNameA (it creates the file), CreateFileA for writing,
//                    WriteFile (half the bytes reach the disk), FlushFileBuffers, MoveFileA,
//                    CloseHandle of a file written (a deferred write that failed)
//   allocations      HeapAlloc (the DLL's operator new allocates from the process heap),
//                    CoTaskMemAlloc, CoTaskMemRealloc, SysAllocString, SysAllocStringLen,
//                    SysAllocStringByteLen
//
// The same hooks record every key, file and directory search the DLL opens and closes (in
// handle ledgers) and answer its message boxes.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "import_hooks.h"
#include "server_test_support.h"

std::string KindParamName(const ::testing::TestParamInfo<CallKind>& info);

// Runs of one sweep: far more than any run makes calls of one kind.
const int kMostFaultPoints = 2000;

// The hooks on one loaded module, undone when this goes (before the module is freed).
class FailingImports {
public:
    explicit FailingImports(HMODULE module);
    ~FailingImports();
    // Whether every import the DLL makes for the kinds above was found; names the first missing.
    ::testing::AssertionResult Complete() const;

private:
    ImportHooks hooks_;
};

// Starts a run in which the failAt-th call (from 1) of `kind` fails, and with `lasting` every
// later call of that kind too; 0 fails none. The ledgers and the message box count start afresh.
void ArmFault(CallKind kind, int failAt, bool lasting = false);
// Later calls go through; the ledgers go on recording.
void DisarmFault();
// The first function made to fail since ArmFault, or "" when none was; how many calls failed.
std::string FailedCall();
int FailedCalls();
int MessageBoxesShown();
std::string LastMessageBoxText();
// Every key, file and directory search that the DLL opened since ArmFault is closed once.
::testing::AssertionResult EveryHandleClosedOnce();

template <typename Run>
void RunArmed(CallKind kind, int failAt, Run run, bool lasting = false) {
    ArmFault(kind, failAt, lasting);
    run();
    DisarmFault();
}

template <typename Run>
void RunNormally(Run run) {
    RunArmed(CallKind::kRegistryWrite, 0, run);
}

// Brantovix.dll loaded with every patch in place, COM initialised (registration uses the
// category manager), and the machine state that creating objects changes put back afterwards.
class FailingCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        ASSERT_NE(nullptr, server_.module) << ServerDllPath();
        imports_.reset(new FailingImports(server_.module));
        ASSERT_TRUE(imports_->Complete());
    }
    void TearDown() override {
        imports_.reset();
        CoUninitialize();
    }

    MachineStateGuard machine_;
    LoadedServer server_;
    std::unique_ptr<FailingImports> imports_;   // after the server: undone before it goes
};
