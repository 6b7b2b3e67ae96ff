// The enumerator driver client against the test device ORV_DE.VXD (tests/test_device),
// deployed to the system directory: the module loop and the device-name request as the device sees them, what the two
// lists keep of every kind of reply, and the device handle's life.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "enumerator_client.h"
#include "file_aside.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "test_device_control.h"

namespace {

const DWORD kGetModule = 0x8002;
const DWORD kGetDeviceNames = 0x8003;
const DWORD kRecordSize = 17;
const DWORD kDeviceListSize = 2304;

// Both lists as one query leaves them.
struct QueriedLists {
    DriverNameList driverNames;
    DeviceNameList deviceNames;

    void Query() { QueryEnumeratorDriver(driverNames, deviceNames); }
    std::vector<std::string> DriverNames() const {
        std::vector<std::string> names;
        for (DWORD i = 0; i < driverNames.Count(); ++i) names.push_back(driverNames.Name(i));
        return names;
    }
};

// Runs first, before anything in this process has loaded the test device: with no driver
// file deployed, nothing is opened and both lists stay empty.
TEST(EnumeratorClient, DeviceThatCannotBeOpenedLeavesBothListsEmpty) {
    ASSERT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD")) << "the test device is loaded already";
    FileAside system(TestDeviceControl::FilePath());
    ASSERT_TRUE(system.Absent());

    QueriedLists lists;
    lists.Query();
    EXPECT_EQ(0u, lists.driverNames.Count());
    EXPECT_EQ(0u, lists.deviceNames.Count());
    EXPECT_EQ('\0', lists.driverNames.Name(0)[0]);
    // Nothing answered: the platform found no device to load.
    EXPECT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD"));
}

class EnumeratorClientWithDevice : public testing::Test {
protected:
    static void SetUpTestSuite() { loaded_ = device_.Load(); }
    void SetUp() override {
        ASSERT_TRUE(loaded_) << "cannot load " << TestDeviceControl::FilePath();
        device_.Reset();
    }
    static TestDeviceControl device_;
    static bool loaded_;
};
TestDeviceControl EnumeratorClientWithDevice::device_;
bool EnumeratorClientWithDevice::loaded_ = false;

TEST_F(EnumeratorClientWithDevice, PlatformRoutesTheRequestsToTheLoadedTestDevice) {
    ASSERT_TRUE(device_.AddModule("VXDLDR"));
    QueriedLists lists;
    lists.Query();
    // The module this test configured answered: its log holds the requests.
    EXPECT_EQ(3u, device_.Requests().size());
    EXPECT_EQ(1u, lists.driverNames.Count());
    // The exact device name is opened, never the file: the delete-on-close flag leaves the
    // file where it is.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(TestDeviceControl::FilePath().c_str()));
}

// The device is opened so that closing it unloads the driver again (delete-on-close: on
// Windows 95/98 that is what makes the system unload a dynamically loaded driver when its last
// handle goes), and that one handle is closed once, after the requests.
HandleLedger g_handles;
DWORD g_openFlags = 0;
int g_opens = 0;
decltype(&CreateFileA) g_realCreateFile = nullptr;
decltype(&CloseHandle) g_realCloseHandle = nullptr;

HANDLE WINAPI LedgerCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
    const HANDLE handle = g_realCreateFile(name, access, share, security, disposition, flags, templateFile);
    ++g_opens;
    g_openFlags = flags;
    if (handle != INVALID_HANDLE_VALUE) g_handles.Opened(handle);
    return handle;
}

BOOL WINAPI LedgerCloseHandle(HANDLE handle) {
    g_handles.Closed(handle);
    return g_realCloseHandle(handle);
}

TEST_F(EnumeratorClientWithDevice, DeviceIsOpenedSoThatClosingItUnloadsTheDriverAndClosedOnce) {
    ASSERT_TRUE(device_.AddModule("VXDLDR"));
    ASSERT_TRUE(device_.AddDevice("VMM"));
    g_handles = HandleLedger();
    g_opens = 0;
    g_openFlags = 0;
    QueriedLists lists;
    {
        ScopedImportPatch open("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&LedgerCreateFile));
        ScopedImportPatch close("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&LedgerCloseHandle));
        g_realCreateFile = reinterpret_cast<decltype(&CreateFileA)>(open.previous());
        g_realCloseHandle = reinterpret_cast<decltype(&CloseHandle)>(close.previous());
        ASSERT_TRUE(g_realCreateFile && g_realCloseHandle);
        lists.Query();
    }
    EXPECT_EQ(1u, lists.driverNames.Count());
    EXPECT_EQ(1u, lists.deviceNames.Count());
    ASSERT_EQ(1, g_opens) << "one load of the driver per query";
    EXPECT_TRUE(g_openFlags & FILE_FLAG_DELETE_ON_CLOSE) << "closing the device would leave the driver loaded";
    EXPECT_EQ(1, g_handles.opens());
    EXPECT_TRUE(g_handles.Balanced());
}

struct ModuleCase {
    const char* what;
    std::vector<std::string> modules;
    std::vector<TestDeviceOverride> overrides;
    std::vector<std::string> expectedNames;
    DWORD expectedRequests;
};

TEST_F(EnumeratorClientWithDevice, ModuleLoopRequestsUntilTheDriverHasNoMore) {
    const std::string name15 = "ABCDEFGHIJKLMNO";
    const ModuleCase cases[] = {
        {"three modules", {"VPOWERD", "PCI", "ORV_DE"}, {}, {"VPOWERD", "PCI", "ORV_DE"}, 4},
        {"no module at all", {}, {}, {}, 1},
        {"names of 15, 16 and 26 characters",
         {name15, name15 + "P", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
         {},
         {name15, name15, name15},
         4},
        {"second request fails with a whole record",
         {"A", "B", "C"},
         {{kGetModule, 1, TRUE, kRecordSize, FALSE, 31}},
         {"A"},
         2},
        {"byte count 0xFFFFFFFE from a succeeding request",
         {"A", "B", "C"},
         {{kGetModule, 2, FALSE, 0xFFFFFFFEu, TRUE, 0}},
         {"A", "B"},
         3},
        {"byte count 0xFFFFFFFF from a succeeding request",
         {"A", "B", "C"},
         {{kGetModule, 0, FALSE, 0xFFFFFFFFu, TRUE, 0}},
         {},
         1},
        {"byte count 0 from a succeeding request", {"A", "B"}, {{kGetModule, 1, FALSE, 0, TRUE, 0}}, {"A"}, 2},
        {"a record cut short", {"A", "B"}, {{kGetModule, 1, TRUE, 5, TRUE, 0}}, {"A"}, 2},
        {"a byte count larger than the record", {"A", "B"}, {{kGetModule, 0, TRUE, 400, TRUE, 0}}, {"A", "B"}, 3},
    };
    for (const ModuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        device_.Reset();
        for (const std::string& m : c.modules) ASSERT_TRUE(device_.AddModule(m));
        for (const TestDeviceOverride& o : c.overrides) ASSERT_TRUE(device_.AddOverride(o));

        QueriedLists lists;
        lists.Query();
        EXPECT_EQ(c.expectedNames, lists.DriverNames());
        // No stray entry after the last used slot.
        EXPECT_EQ('\0', lists.driverNames.Name(lists.driverNames.Count())[0]);

        std::vector<TestDeviceRequest> requests = device_.RequestsOf(kGetModule);
        ASSERT_EQ(c.expectedRequests, requests.size());
        for (DWORD i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(i, requests[i].index);
            EXPECT_EQ(4u, requests[i].inputSize);
            EXPECT_EQ(kRecordSize, requests[i].outputSize);
        }
        // Then exactly one device-name request, and nothing else.
        EXPECT_EQ(1u, device_.RequestsOf(kGetDeviceNames).size());
        EXPECT_EQ(c.expectedRequests + 1, device_.Requests().size());
    }
}

TEST_F(EnumeratorClientWithDevice, ModuleLoopStopsWhenAll1024SlotsAreUsed) {
    char name[16];
    for (int i = 0; i < 1030; ++i) {
        wsprintfA(name, "M%04d", i);
        ASSERT_TRUE(device_.AddModule(name));
    }
    QueriedLists lists;
    lists.Query();
    ASSERT_EQ(1024u, lists.driverNames.Count());
    EXPECT_STREQ("M0000", lists.driverNames.Name(0));
    EXPECT_STREQ("M1023", lists.driverNames.Name(1023));
    EXPECT_EQ(1024u, device_.RequestsOf(kGetModule).size());
}

struct DeviceCase {
    const char* what;
    int devices;   // devices in the chain: DEV00000, DEV00001, ...
    std::vector<TestDeviceOverride> overrides;
    DWORD expectedCount;
};

TEST_F(EnumeratorClientWithDevice, DeviceNameCountComesFromWholeEntriesOfAPossibleReply) {
    const DeviceCase cases[] = {
        {"three devices", 3, {}, 3},
        {"no device", 0, {}, 0},
        {"256 devices fill the list", 256, {}, 256},
        {"257 devices", 257, {}, 0},
        {"byte count not a multiple of 9", 3, {{kGetDeviceNames, 0, TRUE, 20, TRUE, 0}}, 2},
        {"byte count larger than the list", 256, {{kGetDeviceNames, 0, TRUE, 5000, TRUE, 0}}, 0},
        {"request fails after writing", 3, {{kGetDeviceNames, 0, TRUE, 27, FALSE, 31}}, 0},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.what);
        device_.Reset();
        char name[16];
        for (int i = 0; i < c.devices; ++i) {
            wsprintfA(name, "DEV%05d", i);
            ASSERT_TRUE(device_.AddDevice(name));
        }
        for (const TestDeviceOverride& o : c.overrides) ASSERT_TRUE(device_.AddOverride(o));

        QueriedLists lists;
        lists.Query();
        ASSERT_EQ(c.expectedCount, lists.deviceNames.Count());
        for (DWORD i = 0; i < c.expectedCount; ++i) {
            wsprintfA(name, "DEV%05d", i);
            ASSERT_EQ(0, memcmp(lists.deviceNames.Entry(i), name, 8)) << i;
            ASSERT_EQ(0, lists.deviceNames.Entry(i)[8]);
        }
        std::vector<TestDeviceRequest> requests = device_.RequestsOf(kGetDeviceNames);
        ASSERT_EQ(1u, requests.size());
        EXPECT_FALSE(requests[0].inputPresent);
        EXPECT_EQ(0u, requests[0].inputSize);
        EXPECT_EQ(kDeviceListSize, requests[0].outputSize);
    }
}

TEST_F(EnumeratorClientWithDevice, DeviceEntriesKeepTheirBlanks) {
    ASSERT_TRUE(device_.AddDevice("VMM"));
    ASSERT_TRUE(device_.AddDevice("IOS"));
    QueriedLists lists;
    lists.Query();
    ASSERT_EQ(2u, lists.deviceNames.Count());
    EXPECT_EQ(1u, lists.deviceNames.FindDeviceName("ios     "));
    EXPECT_EQ(DeviceNameList::kNotListed, lists.deviceNames.FindDeviceName("IOS"));
    EXPECT_EQ(0u, lists.deviceNames.FindDeviceName("VMM     "));
}

}   // namespace
