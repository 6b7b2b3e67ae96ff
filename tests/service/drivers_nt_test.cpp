// Run with Windows NT version answers: the object is created, but no inventory runs.
#include <gtest/gtest.h>

#include "drivers_fixture.h"
#include "windows_version.h"

namespace {

TEST(DriversOnNt, ListStaysEmptyAndReadsGiveNullWithSuccess) {
    ASSERT_TRUE(InWindowsNtMode());

    // Nothing is deployed on NT: the driver file stays absent.
    char driverFile[MAX_PATH];
    GetSystemDirectoryA(driverFile, MAX_PATH);
    lstrcatA(driverFile, "\\ORV_DE.VXD");
    DeleteFileA(driverFile);

    ScopedServerModule module(GetModuleHandleA(nullptr));
    TestDrivers drivers;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(driverFile));
    long size = -1;
    EXPECT_EQ(S_OK, drivers.GetDataListSize(&size));
    EXPECT_EQ(0, size);
    for (long index : {0L, 1L, -1L}) {
        BSTR name = reinterpret_cast<BSTR>(1);
        EXPECT_EQ(S_OK, drivers.GetDataListName(index, &name));
        EXPECT_EQ(nullptr, name);
    }
    BSTR value = reinterpret_cast<BSTR>(1);
    BSTR wanted = SysAllocString(L"IOS.VXD");
    EXPECT_EQ(S_OK, drivers.GetDataListValueByName(wanted, &value));
    EXPECT_EQ(nullptr, value);
    SysFreeString(wanted);
    BSTR information = nullptr;
    EXPECT_EQ(S_OK, drivers.GetComponentInfomation(&information));
    EXPECT_EQ(L"Driver Class", TakeText(information));
}

}   // namespace
