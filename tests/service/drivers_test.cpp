// The Drivers body on Windows 98: deployment of the enumerator driver file, the list built from
// the inventory's rows, and the ten methods.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver_inventory.h"
#include "drivers_fixture.h"
#include "import_patch.h"

namespace {

std::string SystemFile(const char* name) {
    char directory[MAX_PATH];
    GetSystemDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class DriversTest : public testing::Test {
protected:
    void SetUp() override {
        OSVERSIONINFOA version = {sizeof(version)};
        ASSERT_TRUE(GetVersionExA(&version));
        ASSERT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), version.dwPlatformId)
            << "the prefix is not in Windows 98 mode";
        DeleteFileA(driverFile_.c_str());
    }
    void TearDown() override { DeleteFileA(driverFile_.c_str()); }

    const std::string driverFile_ = SystemFile("ORV_DE.VXD");
};

TEST_F(DriversTest, WritesTheDriverFileFromTheModuleResourceWhenAbsent) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;
    EXPECT_EQ(ReadFile(DEPLOY_PAYLOAD), ReadFile(driverFile_));
    EXPECT_FALSE(ReadFile(driverFile_).empty());
}

TEST_F(DriversTest, KeepsAnExistingDriverFileWhateverItHolds) {
    WriteFile(driverFile_, "");
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;
    EXPECT_EQ(1, drivers.DeployEnumeratorDriver());
    EXPECT_EQ("", ReadFile(driverFile_));
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

// Deployment's calls as they leave the product: the system directory asked for with a
// 512-character buffer; the module's own "DRIVER" 201 resource; the file created for writing,
// share mode 0, CREATE_ALWAYS, attributes 0; all bytes in one write, then flush and close.
struct DeployCalls {
    std::vector<UINT> directorySizes;
    int resourceLookups = 0;
    HMODULE resourceModule = nullptr;
    bool resourceById201 = false, resourceTypeDriver = false;
    int creates = 0;
    std::string path;
    DWORD access = 0, share = 1, disposition = 0, attributes = 1;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::vector<DWORD> writes;
    int flushes = 0;
    std::vector<HANDLE> closed;
};
DeployCalls g_deploy;
decltype(&GetSystemDirectoryA) g_realSystemDirectory = nullptr;
decltype(&FindResourceA) g_realFindResource = nullptr;
decltype(&CreateFileA) g_realCreateFile = nullptr;
decltype(&::WriteFile) g_realWriteFile = nullptr;
decltype(&FlushFileBuffers) g_realFlush = nullptr;
decltype(&CloseHandle) g_realCloseHandle = nullptr;

UINT WINAPI RecordSystemDirectory(LPSTR buffer, UINT size) {
    g_deploy.directorySizes.push_back(size);
    return g_realSystemDirectory(buffer, size);
}
HRSRC WINAPI RecordFindResource(HMODULE module, LPCSTR name, LPCSTR type) {
    ++g_deploy.resourceLookups;
    g_deploy.resourceModule = module;
    g_deploy.resourceById201 = IS_INTRESOURCE(name) && reinterpret_cast<ULONG_PTR>(name) == 201;
    g_deploy.resourceTypeDriver = !IS_INTRESOURCE(type) && lstrcmpA(type, "DRIVER") == 0;
    return g_realFindResource(module, name, type);
}
HANDLE WINAPI RecordCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
    ++g_deploy.creates;
    g_deploy.path = path;
    g_deploy.access = access;
    g_deploy.share = share;
    g_deploy.disposition = disposition;
    g_deploy.attributes = attributes;
    g_deploy.file = g_realCreateFile(path, access, share, security, disposition, attributes, templateFile);
    return g_deploy.file;
}
BOOL WINAPI RecordWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (file == g_deploy.file) g_deploy.writes.push_back(size);
    return g_realWriteFile(file, bytes, size, written, overlapped);
}
BOOL WINAPI RecordFlush(HANDLE file) {
    if (file == g_deploy.file) ++g_deploy.flushes;
    return g_realFlush(file);
}
BOOL WINAPI RecordCloseHandle(HANDLE handle) {
    g_deploy.closed.push_back(handle);
    return g_realCloseHandle(handle);
}

TEST_F(DriversTest, DeploymentCallsThePlatformWithFixedArgumentsAndWritesOnce) {
    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;   // its construction deploys the file; then it is deployed again below
    DeleteFileA(driverFile_.c_str());
    g_deploy = DeployCalls();
    int result = 0;
    {
        ScopedImportPatch directory("kernel32.dll", "GetSystemDirectoryA", reinterpret_cast<void*>(&RecordSystemDirectory));
        ScopedImportPatch resource("kernel32.dll", "FindResourceA", reinterpret_cast<void*>(&RecordFindResource));
        ScopedImportPatch create("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&RecordCreateFile));
        ScopedImportPatch write("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&RecordWriteFile));
        ScopedImportPatch flush("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&RecordFlush));
        ScopedImportPatch close("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&RecordCloseHandle));
        g_realSystemDirectory = reinterpret_cast<decltype(&GetSystemDirectoryA)>(directory.previous());
        g_realFindResource = reinterpret_cast<decltype(&FindResourceA)>(resource.previous());
        g_realCreateFile = reinterpret_cast<decltype(&CreateFileA)>(create.previous());
        g_realWriteFile = reinterpret_cast<decltype(&::WriteFile)>(write.previous());
        g_realFlush = reinterpret_cast<decltype(&FlushFileBuffers)>(flush.previous());
        g_realCloseHandle = reinterpret_cast<decltype(&CloseHandle)>(close.previous());
        ASSERT_TRUE(g_realSystemDirectory && g_realFindResource && g_realCreateFile && g_realWriteFile &&
                    g_realFlush && g_realCloseHandle);
        result = drivers.DeployEnumeratorDriver();
    }
    EXPECT_EQ(1, result);
    EXPECT_EQ(std::vector<UINT>{512}, g_deploy.directorySizes);
    EXPECT_EQ(1, g_deploy.resourceLookups);
    EXPECT_EQ(GetModuleHandleA(nullptr), g_deploy.resourceModule);
    EXPECT_TRUE(g_deploy.resourceById201);
    EXPECT_TRUE(g_deploy.resourceTypeDriver);
    ASSERT_EQ(1, g_deploy.creates);
    EXPECT_EQ(0, lstrcmpiA(driverFile_.c_str(), g_deploy.path.c_str())) << g_deploy.path;
    EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), g_deploy.access);
    EXPECT_EQ(0u, g_deploy.share);
    EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), g_deploy.disposition);
    EXPECT_EQ(0u, g_deploy.attributes);
    const std::string payload = ReadFile(DEPLOY_PAYLOAD);
    EXPECT_EQ(std::vector<DWORD>{static_cast<DWORD>(payload.size())}, g_deploy.writes);
    EXPECT_EQ(1, g_deploy.flushes);
    EXPECT_EQ(std::vector<HANDLE>{g_deploy.file}, g_deploy.closed);
    EXPECT_EQ(payload, ReadFile(driverFile_));
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
