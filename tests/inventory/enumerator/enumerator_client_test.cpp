// The enumerator driver client against the test device ORV_DE.VXD (tests/support/test_device),
// deployed to the system directory: the module loop and the device-name request as the device
// sees them, what the two lists keep of every kind of reply, and the device handle's life.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "enumerator_client.h"
#include "enumerator_protocol.h"
#include "enumerator_request_cases.h"
#include "file_aside.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "owner.h"
#include "test_device_control.h"

namespace {

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

// The test device answers with the driver's own logic: every case of the request table whose
// system it can hold (all but an exhausted heap) gets the driver's answer through the
// platform's DeviceIoControl, byte for byte. A request code the driver learns is answered here
// with no change to the device. The platform hands the device only codes whose high word is 0
// (any other goes to the system's own device control), so the close notification is not sent.
TEST_F(EnumeratorClientWithDevice, DeviceAnswersEveryRequestCaseAsTheDriverDoes) {
    using namespace enumerator_cases;
    int sent = 0;
    for (const RequestCase& c : RequestCases()) {
        if (c.system->heapExhausted || (c.code >> 16) != 0) continue;
        device_.Reset();
        for (const LoadedModule& m : c.system->modules) {
            ASSERT_TRUE(m.hasName ? device_.AddModule(m.name, m.loadCount) : device_.AddModuleWithoutName(m.loadCount));
        }
        for (const std::string& d : c.system->devices) ASSERT_TRUE(device_.AddDevice(d)) << c.name;
        FileHandle device(
            CreateFileA(ENUMDRV_DEVICE_PATH, 0, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(device) << c.name;
        std::vector<char> input(c.input.begin(), c.input.end());
        GuardedOutput output(c.outputSize, c.nullOutput);
        DWORD count = kByteCountUntouched;
        const BOOL ok =
            DeviceIoControl(device.get(), c.code, c.nullInput || input.empty() ? nullptr : input.data(),
                            static_cast<DWORD>(input.size()), output.Pointer(), c.outputSize, &count, nullptr);
        RequestOutcome outcome;
        outcome.status = ok ? 0 : GetLastError();
        outcome.byteCount = count;
        output.Read(&outcome);
        EXPECT_EQ("", Mismatch(c, outcome)) << c.name;
        ++sent;
    }
    EXPECT_GT(sent, 0);
}

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
    EXPECT_EQ("", g_handles.Faults());
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
         {{ENUMDRV_GET_MODULE, 1, TRUE, ENUMDRV_MODULE_RECORD_SIZE, FALSE, 31}},
         {"A"},
         2},
        {"byte count 0xFFFFFFFE from a succeeding request",
         {"A", "B", "C"},
         {{ENUMDRV_GET_MODULE, 2, FALSE, 0xFFFFFFFEu, TRUE, 0}},
         {"A", "B"},
         3},
        {"byte count 0xFFFFFFFF from a succeeding request",
         {"A", "B", "C"},
         {{ENUMDRV_GET_MODULE, 0, FALSE, 0xFFFFFFFFu, TRUE, 0}},
         {},
         1},
        {"byte count 0 from a succeeding request", {"A", "B"}, {{ENUMDRV_GET_MODULE, 1, FALSE, 0, TRUE, 0}}, {"A"}, 2},
        {"a record cut short", {"A", "B"}, {{ENUMDRV_GET_MODULE, 1, TRUE, 5, TRUE, 0}}, {"A"}, 2},
        {"a byte count larger than the record",
         {"A", "B"},
         {{ENUMDRV_GET_MODULE, 0, TRUE, 400, TRUE, 0}},
         {"A", "B"},
         3},
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

        std::vector<TestDeviceRequest> requests = device_.RequestsOf(ENUMDRV_GET_MODULE);
        ASSERT_EQ(c.expectedRequests, requests.size());
        for (DWORD i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(i, requests[i].index);
            EXPECT_EQ(4u, requests[i].inputSize);
            EXPECT_EQ(ENUMDRV_MODULE_RECORD_SIZE, requests[i].outputSize);
        }
        // Then exactly one device-name request, and nothing else.
        EXPECT_EQ(1u, device_.RequestsOf(ENUMDRV_GET_DEVICE_NAMES).size());
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
    EXPECT_EQ(1024u, device_.RequestsOf(ENUMDRV_GET_MODULE).size());
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
        {"byte count not a multiple of 9", 3, {{ENUMDRV_GET_DEVICE_NAMES, 0, TRUE, 20, TRUE, 0}}, 2},
        {"byte count larger than the list", 256, {{ENUMDRV_GET_DEVICE_NAMES, 0, TRUE, 5000, TRUE, 0}}, 0},
        {"request fails after writing", 3, {{ENUMDRV_GET_DEVICE_NAMES, 0, TRUE, 27, FALSE, 31}}, 0},
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
        std::vector<TestDeviceRequest> requests = device_.RequestsOf(ENUMDRV_GET_DEVICE_NAMES);
        ASSERT_EQ(1u, requests.size());
        EXPECT_FALSE(requests[0].inputPresent);
        EXPECT_EQ(0u, requests[0].inputSize);
        EXPECT_EQ(ENUMDRV_DEVICE_REPLY_CAPACITY, requests[0].outputSize);
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
