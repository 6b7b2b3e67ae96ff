// The Drivers body on Windows 98: deployment of the enumerator driver file, the list built from
// the inventory's rows, and the ten methods.
#include <gtest/gtest.h>

#include <wctype.h>

#include <memory>
#include <string>
#include <vector>

#include "drivers_fixture.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "ledger_hooks.h"
#include "orv_service_checks.h"
#include "prepared_rows.h"
#include "test_files.h"
#include "windows_version.h"

namespace {

using driver_fixtures::BuildPeWithoutFixedInfo;
using driver_fixtures::BuildVersionedPe;
using driver_fixtures::UtcFileTime;

class DriversTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InWindows98Mode());
        DeleteFileA(driverFile_.c_str());
    }
    void TearDown() override { DeleteFileA(driverFile_.c_str()); }

    const std::string driverFile_ = SystemDirectory() + "\\ORV_DE.VXD";
};

TEST_F(DriversTest, WritesTheDriverFileFromTheModuleResourceWhenAbsent) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;
    EXPECT_EQ(ReadFileBytes(DEPLOY_PAYLOAD), ReadFileBytes(driverFile_));
    EXPECT_FALSE(ReadFileBytes(driverFile_).empty());
}

TEST_F(DriversTest, KeepsAnExistingDriverFileWhateverItHolds) {
    WriteFileBytes(driverFile_, "");
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;
    EXPECT_EQ("", ReadFileBytes(driverFile_));
}

TEST_F(DriversTest, WithoutAResourceDeploymentFailsAndTheListStaysEmpty) {
    // kernel32 carries no "DRIVER" 201 resource.
    ScopedServerModule module(GetModuleHandleA("kernel32.dll"));
    TestDrivers drivers;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(driverFile_.c_str()));
    long size = -1;
    EXPECT_EQ(S_OK, drivers.GetDataListSize(&size));
    EXPECT_EQ(0, size);
}

// The files and searches of a creation whose driver file cannot be written: every one closed
// once, and the names of the files it created.
bool g_writeFails = false;
decltype(&::WriteFile) g_realWriteFile = nullptr;

BOOL WINAPI FailingWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (!g_writeFails) return g_realWriteFile(file, bytes, size, written, overlapped);
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The file and search handles in the ledger, every path opened in `created`, and each write
// failing when asked to.
class LedgerPatches {
public:
    LedgerPatches(HandleLedger& ledger, std::vector<std::string>* created, bool writeFails = false)
        : files_(ledger, created) {
        g_writeFails = writeFails;
        g_realWriteFile = reinterpret_cast<decltype(&::WriteFile)>(write_.previous());
    }
    bool Complete() const { return files_.Installed() && g_realWriteFile; }

private:
    FileHandleHooks files_;
    ScopedImportPatch write_{"kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FailingWriteFile)};
};

// A deployment whose write failed was still attempted: the object goes on to its inventory
// (which then learns from the plug-and-play tree alone), and no partial driver file is left.
// With no driver file in the system directory the device is not opened: the system would load
// whatever ORV_DE.VXD it found further along its search path.
TEST_F(DriversTest, FailedDeploymentLeavesNoDriverFileAndTheInventoryStillRuns) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    HandleLedger ledger;
    std::vector<std::string> created;
    {
        LedgerPatches patches(ledger, &created, true);
        ASSERT_TRUE(patches.Complete());
        TestDrivers drivers;
        EXPECT_EQ(S_OK, drivers.ConstructionResult());
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(driverFile_.c_str()));
    bool deviceOpened = false;
    for (const std::string& path : created) {
        if (path.compare(0, 4, "\\\\.\\") == 0) {
            deviceOpened = true;
            continue;
        }
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str())) << path;
    }
    EXPECT_FALSE(deviceOpened);
    EXPECT_EQ("", ledger.Faults());
}

// The list a body makes of the rows of its own inventory, on a prepared machine: the body
// deploys this executable's stand-in driver file, which opens no device, so the rows are the
// prepared ones alone.
class DriversRowsTest : public DriversTest {
protected:
    void Create() {
        rows_.List();
        drivers_.reset(new TestDrivers);
        ASSERT_EQ(S_OK, drivers_->ConstructionResult());
    }

    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        long size = 0;
        drivers_->GetDataListSize(&size);
        for (long i = 0; i < size; ++i) {
            BSTR name = nullptr;
            drivers_->GetDataListName(i, &name);
            names.push_back(TakeText(name));
        }
        return names;
    }
    std::wstring ValueByName(const std::wstring& name) {
        BSTR wanted = SysAllocString(name.c_str());
        BSTR value = nullptr;
        EXPECT_EQ(S_OK, drivers_->GetDataListValueByName(wanted, &value));
        SysFreeString(wanted);
        return TakeText(value);
    }
    std::wstring Date(const char* name) { return L"DATE-" + rows_.WideName(name); }

    ScopedServerModule module_{GetModuleHandleA(nullptr)};
    PreparedRows rows_;
    std::unique_ptr<TestDrivers> drivers_;
};

TEST_F(DriversRowsTest, ThreeRowsGiveNamesThenDatesInReverseBehindTheFirst) {
    ASSERT_TRUE(rows_.Add("A.VXD", BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 7, 4, 23, 30), true));
    ASSERT_TRUE(rows_.Add("UNUSED.VXD", BuildVersionedPe({4, 10, 0, 1111}), UtcFileTime(1999, 7, 4, 23, 30), false));
    ASSERT_TRUE(rows_.Add("B.DRV", BuildVersionedPe({5, 0, 1, 2195}), UtcFileTime(2000, 1, 2, 23, 30), true));
    ASSERT_TRUE(rows_.Add("NOSTAMP.DRV", BuildPeWithoutFixedInfo(), UtcFileTime(2000, 1, 2, 23, 30), true));
    ASSERT_TRUE(rows_.Add("C.SYS", BuildVersionedPe({4, 10, 100, 100}), UtcFileTime(2001, 12, 31, 23, 30), true));
    Create();

    EXPECT_EQ((std::vector<std::wstring>{rows_.WideName("A.VXD"), Date("C.SYS"), rows_.WideName("C.SYS"), Date("B.DRV"),
                                         rows_.WideName("B.DRV"), Date("A.VXD")}),
              Names());
    EXPECT_EQ(L"04.10.100.0100", ValueByName(rows_.WideName("C.SYS")));
    // Last written 23:30 UTC: the date is the UTC one.
    EXPECT_EQ(L"1999/07/04", ValueByName(Date("A.VXD")));
    EXPECT_EQ(L"2001/12/31", ValueByName(Date("C.SYS")));
    for (std::wstring name : {Date("A.VXD"), rows_.WideName("A.VXD")}) {
        for (wchar_t& c : name) c = towlower(c);
        EXPECT_EQ(L"<null>", ValueByName(name)) << name;   // names are matched exactly
    }
}

TEST_F(DriversRowsTest, OneRowGivesItsNameThenItsDate) {
    ASSERT_TRUE(rows_.Add("A.VXD", BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1998, 5, 11, 23, 30), true));
    Create();
    EXPECT_EQ((std::vector<std::wstring>{rows_.WideName("A.VXD"), Date("A.VXD")}), Names());
}

TEST_F(DriversRowsTest, ReadingMethodsHandleEveryIndex) {
    ASSERT_TRUE(rows_.Add("A.VXD", BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 7, 4, 23, 30), true));
    ASSERT_TRUE(rows_.Add("B.DRV", BuildVersionedPe({4, 10, 0, 1998}), UtcFileTime(1999, 7, 4, 23, 30), true));
    Create();

    const std::wstring a = rows_.WideName("A.VXD");
    const struct Case {
        long index;
        std::wstring name;
        std::wstring value;
    } cases[] = {
        {0, a, L"04.10.00.2222"},  {1, Date("B.DRV"), L"1999/07/04"}, {3, Date("A.VXD"), L"1999/07/04"},
        {4, L"<null>", L"<null>"},   // the size as index
        {-1, a, L"04.10.00.2222"}, {LONG_MIN, a, L"04.10.00.2222"},   {LONG_MAX, L"<null>", L"<null>"},
    };
    for (const Case& c : cases) {
        BSTR name = reinterpret_cast<BSTR>(1);
        BSTR value = reinterpret_cast<BSTR>(1);
        EXPECT_EQ(S_OK, drivers_->GetDataListName(c.index, &name));
        EXPECT_EQ(S_OK, drivers_->GetDataListValueByIndex(c.index, &value));
        EXPECT_EQ(c.name, TakeText(name)) << c.index;
        EXPECT_EQ(c.value, TakeText(value)) << c.index;
    }
}

TEST_F(DriversRowsTest, ChangingMethodsAreNotImplementedAndChangeNothing) {
    ASSERT_TRUE(rows_.Add("A.VXD", BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 7, 4, 23, 30), true));
    Create();

    BSTR text = SysAllocString(L"C:\\WINDOWS\\TEMP\\DRIVERS.LOG");
    ExpectChangingMethodsNotImplemented(drivers_.get(), text);
    SysFreeString(text);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\WINDOWS\\TEMP\\DRIVERS.LOG"));
    EXPECT_EQ((std::vector<std::wstring>{rows_.WideName("A.VXD"), Date("A.VXD")}), Names());

    BSTR information = nullptr;
    EXPECT_EQ(S_OK, drivers_->GetComponentInfomation(&information));
    EXPECT_EQ(12u, SysStringLen(information));
    EXPECT_EQ(L"Driver Class", TakeText(information));
}

}   // namespace
