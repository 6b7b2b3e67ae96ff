// The Drivers body on Windows 98: deployment of the enumerator driver file, the list built from
// the inventory's rows, and the ten methods.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_inventory.h"
#include "drivers_fixture.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "ledger_hooks.h"
#include "test_files.h"
#include "windows_version.h"

namespace {

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
    EXPECT_EQ(1, drivers.DeployEnumeratorDriver());
    EXPECT_EQ("", ReadFileBytes(driverFile_));
}

TEST_F(DriversTest, WithoutAResourceDeploymentFailsAndTheListStaysEmpty) {
    // kernel32 carries no "DRIVER" 201 resource.
    ScopedServerModule module(GetModuleHandleA("kernel32.dll"));
    TestDrivers drivers;
    EXPECT_EQ(0, drivers.DeployEnumeratorDriver());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(driverFile_.c_str()));
    long size = -1;
    EXPECT_EQ(S_OK, drivers.GetDataListSize(&size));
    EXPECT_EQ(0, size);
}

// Deployment through the body takes the image from the module the server module records, writes
// it whole and closes every file and search it opened, once.
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

TEST_F(DriversTest, DeploymentWritesTheModulesImageWholeAndClosesWhatItOpens) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;   // its construction deploys the file; then it is deployed again below
    DeleteFileA(driverFile_.c_str());
    HandleLedger ledger;
    std::vector<std::string> created;
    int result = 0;
    {
        LedgerPatches patches(ledger, &created);
        ASSERT_TRUE(patches.Complete());
        result = drivers.DeployEnumeratorDriver();
    }
    EXPECT_EQ(1, result);
    EXPECT_EQ(ReadFileBytes(DEPLOY_PAYLOAD), ReadFileBytes(driverFile_));
    EXPECT_FALSE(created.empty());
    EXPECT_TRUE(ledger.Balanced());
}

// A deployment whose write failed was still attempted: the object goes on to its inventory
// (which then learns from the plug-and-play tree alone), and no partial driver file is left.
TEST_F(DriversTest, FailedDeploymentLeavesNoDriverFileAndTheInventoryStillRuns) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    HandleLedger ledger;
    std::vector<std::string> created;
    {
        LedgerPatches patches(ledger, &created, true);
        ASSERT_TRUE(patches.Complete());
        TestDrivers drivers;
        EXPECT_EQ(1, drivers.DeployEnumeratorDriver());
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(driverFile_.c_str()));
    bool deviceOpened = false;   // the inventory's first step opens the enumerator device
    for (const std::string& path : created) {
        if (path.compare(0, 4, "\\\\.\\") == 0) {
            deviceOpened = true;
            continue;
        }
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str())) << path;
    }
    EXPECT_TRUE(deviceOpened);
    EXPECT_TRUE(ledger.Balanced());
}

class DriversRowsTest : public DriversTest {
protected:
    // A body with an empty list (no resource, so no inventory of the machine) to add rows to.
    ScopedServerModule module_{GetModuleHandleA("kernel32.dll")};
    TestDrivers drivers_;

    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        long size = 0;
        drivers_.GetDataListSize(&size);
        for (long i = 0; i < size; ++i) {
            BSTR name = nullptr;
            drivers_.GetDataListName(i, &name);
            names.push_back(TakeText(name));
        }
        return names;
    }
    std::wstring ValueByName(const wchar_t* name) {
        BSTR wanted = SysAllocString(name);
        BSTR value = nullptr;
        EXPECT_EQ(S_OK, drivers_.GetDataListValueByName(wanted, &value));
        SysFreeString(wanted);
        return TakeText(value);
    }
};

TEST_F(DriversRowsTest, ThreeRowsGiveNamesThenDatesInReverseBehindTheFirst) {
    ChosenRows rows;
    rows.Add("A.VXD", "04.10.00.2222", 1999, 7, 4, true);
    rows.Add("UNUSED.VXD", "04.10.00.1111", 1999, 7, 4, false);
    rows.Add("B.VXD", "05.00.01.2195", 2000, 1, 2, true);
    rows.Add("NOSTAMP.VXD", "", 2000, 1, 2, true);
    rows.Add("C.VXD", "04.10.100.0100", 2001, 12, 31, true);
    DriverInventory inventory(rows.Finish());
    ASSERT_EQ(3u, inventory.GetItemCount());
    drivers_.AddInventoryRows(inventory);

    EXPECT_EQ((std::vector<std::wstring>{L"A.VXD", L"DATE-C.VXD", L"C.VXD", L"DATE-B.VXD", L"B.VXD",
                                         L"DATE-A.VXD"}),
              Names());
    EXPECT_EQ(L"04.10.100.0100", ValueByName(L"C.VXD"));
    // Last written 23:30 UTC: the date is the UTC one.
    EXPECT_EQ(L"1999/07/04", ValueByName(L"DATE-A.VXD"));
    EXPECT_EQ(L"2001/12/31", ValueByName(L"DATE-C.VXD"));
    EXPECT_EQ(L"<null>", ValueByName(L"date-a.vxd"));
    EXPECT_EQ(L"<null>", ValueByName(L"a.vxd"));
}

TEST_F(DriversRowsTest, OneRowGivesItsNameThenItsDate) {
    ChosenRows rows;
    rows.Add("A.VXD", "04.10.00.2222", 1998, 5, 11, true);
    DriverInventory inventory(rows.Finish());
    drivers_.AddInventoryRows(inventory);
    EXPECT_EQ((std::vector<std::wstring>{L"A.VXD", L"DATE-A.VXD"}), Names());
}

TEST_F(DriversRowsTest, SameNameTwiceAnswersTheLowerIndex) {
    ChosenRows rows;
    rows.Add("X.SYS", "01.00.00.0001", 1999, 1, 1, true);
    rows.Add("Y.SYS", "02.00.00.0002", 1999, 1, 1, true);
    rows.Add("X.SYS", "03.00.00.0003", 1999, 1, 1, true);
    DriverInventory inventory(rows.Finish());
    drivers_.AddInventoryRows(inventory);
    EXPECT_EQ(L"01.00.00.0001", ValueByName(L"X.SYS"));   // row 1 stands at index 0
}

TEST_F(DriversRowsTest, ReadingMethodsHandleEveryIndex) {
    ChosenRows rows;
    rows.Add("A.VXD", "04.10.00.2222", 1999, 7, 4, true);
    rows.Add("B.VXD", "04.10.00.1998", 1999, 7, 4, true);
    DriverInventory inventory(rows.Finish());
    drivers_.AddInventoryRows(inventory);

    struct Case {
        long index;
        const wchar_t* name;
        const wchar_t* value;
    } const cases[] = {
        {0, L"A.VXD", L"04.10.00.2222"},   {1, L"DATE-B.VXD", L"1999/07/04"},
        {3, L"DATE-A.VXD", L"1999/07/04"}, {4, L"<null>", L"<null>"},   // the size as index
        {-1, L"A.VXD", L"04.10.00.2222"},  {LONG_MIN, L"A.VXD", L"04.10.00.2222"},
        {LONG_MAX, L"<null>", L"<null>"},
    };
    for (const Case& c : cases) {
        BSTR name = reinterpret_cast<BSTR>(1);
        BSTR value = reinterpret_cast<BSTR>(1);
        EXPECT_EQ(S_OK, drivers_.GetDataListName(c.index, &name));
        EXPECT_EQ(S_OK, drivers_.GetDataListValueByIndex(c.index, &value));
        EXPECT_EQ(c.name, TakeText(name)) << c.index;
        EXPECT_EQ(c.value, TakeText(value)) << c.index;
    }
}

TEST_F(DriversRowsTest, ChangingMethodsAreNotImplementedAndChangeNothing) {
    ChosenRows rows;
    rows.Add("A.VXD", "04.10.00.2222", 1999, 7, 4, true);
    DriverInventory inventory(rows.Finish());
    drivers_.AddInventoryRows(inventory);

    BSTR text = SysAllocString(L"C:\\WINDOWS\\TEMP\\DRIVERS.LOG");
    EXPECT_EQ(E_NOTIMPL, drivers_.AddDataElement(text, text));
    EXPECT_EQ(E_NOTIMPL, drivers_.RemoveDataElementByIndex(0));
    EXPECT_EQ(E_NOTIMPL, drivers_.RemoveDataElementByName(text));
    EXPECT_EQ(E_NOTIMPL, drivers_.SetDataListValue(0, text));
    EXPECT_EQ(E_NOTIMPL, drivers_.LogDataListToFile(text));
    SysFreeString(text);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\WINDOWS\\TEMP\\DRIVERS.LOG"));
    EXPECT_EQ((std::vector<std::wstring>{L"A.VXD", L"DATE-A.VXD"}), Names());

    BSTR information = nullptr;
    EXPECT_EQ(S_OK, drivers_.GetComponentInfomation(&information));
    EXPECT_EQ(12u, SysStringLen(information));
    EXPECT_EQ(L"Driver Class", TakeText(information));
}

}  // namespace
