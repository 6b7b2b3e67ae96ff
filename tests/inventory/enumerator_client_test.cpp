// The enumerator driver client against the test device ORV_DE.VXD (tests/test_device): the
// module loop and the device-name request as the device sees them, what the two lists keep
// of every kind of reply, and the two passes that mark rows from the lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_inventory.h"
#include "file_aside.h"
#include "import_patch.h"
#include "test_device_control.h"

namespace {

const DWORD kGetModule = 0x8002;
const DWORD kGetDeviceNames = 0x8003;
const DWORD kRecordSize = 17;
const DWORD kDeviceListSize = 2304;

class ClientInventory : public DriverInventory {
public:
    ClientInventory() : DriverInventory(TablesOnly()) {}
    using DriverInventory::AddItem;
    using DriverInventory::FindDeviceName;
    using DriverInventory::FindDriverName;
    using DriverInventory::MatchDeviceNames;
    using DriverInventory::MatchDriverNames;
    using DriverInventory::QueryEnumeratorDriver;

    DWORD DriverNameCount() const { return driverNameCount_; }
    DWORD DeviceNameCount() const { return deviceNameCount_; }
    std::vector<std::string> DriverNames() const {
        std::vector<std::string> names;
        for (DWORD i = 0; i < driverNameCount_; ++i) names.push_back(driverNames_[i]);
        return names;
    }
    const char* DriverSlot(DWORD i) const { return driverNames_[i]; }
    const BYTE* DeviceList() const { return deviceNames_; }
    DriverItem& Row(DWORD i) { return items_[i]; }

    void SetDriverNames(const std::vector<std::string>& names) {
        driverNameCount_ = 0;
        for (const std::string& name : names) lstrcpynA(driverNames_[driverNameCount_++], name.c_str(), 16);
    }
    // Entries exactly as the driver delivers them: 8 name bytes and a zero.
    void SetDeviceNames(const std::vector<std::string>& names) {
        deviceNameCount_ = 0;
        for (const std::string& name : names) {
            BYTE* entry = deviceNames_ + 9 * deviceNameCount_++;
            memset(entry, 0, 9);
            memcpy(entry, name.data(), name.size() < 8 ? name.size() : 8);
        }
    }
    void AddRow(const char* name, DWORD active = 0, const char* deviceName = "") {
        AddItem(name, (std::string("C:\\WINDOWS\\SYSTEM\\") + name).c_str(), 0, 0);
        items_[itemCount_ - 1].active = active;
        memcpy(items_[itemCount_ - 1].deviceName, deviceName, strlen(deviceName) < 9 ? strlen(deviceName) : 9);
    }
};

std::string SystemDevicePath() {
    char directory[MAX_PATH];
    GetSystemDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\ORV_DE.VXD";
}

// Runs first, before anything in this process has loaded the test device: with no device
// file where the platform looks, the open fails and both lists stay empty.
TEST(EnumeratorClient, DeviceThatCannotBeOpenedLeavesBothListsEmpty) {
    ASSERT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD")) << "the test device is loaded already";
    FileAside local(TestDeviceControl::FilePath());
    FileAside system(SystemDevicePath());
    ASSERT_TRUE(local.Absent());
    ASSERT_TRUE(system.Absent());

    ClientInventory inventory;
    inventory.QueryEnumeratorDriver();
    EXPECT_EQ(0u, inventory.DriverNameCount());
    EXPECT_EQ(0u, inventory.DeviceNameCount());
    EXPECT_EQ('\0', inventory.DriverSlot(0)[0]);
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
    ClientInventory inventory;
    inventory.QueryEnumeratorDriver();
    // The module this test configured answered: its log holds the requests.
    EXPECT_EQ(3u, device_.Requests().size());
    EXPECT_EQ(1u, inventory.DriverNameCount());
    // The exact device name is opened, never the file: the delete-on-close flag leaves the
    // file where it is.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(TestDeviceControl::FilePath().c_str()));
}

// The calls as they leave the product: the device opened by its exact name with access 0,
// share mode 0, OPEN_ALWAYS and FILE_FLAG_DELETE_ON_CLOSE; every request on that handle
// without an overlapped structure; the handle closed once at the end.
struct DeviceCalls {
    int opens = 0;
    std::string name;
    DWORD access = 1, share = 1, disposition = 0, flags = 0;
    LPSECURITY_ATTRIBUTES security = reinterpret_cast<LPSECURITY_ATTRIBUTES>(1);
    HANDLE templateFile = reinterpret_cast<HANDLE>(1);
    HANDLE opened = INVALID_HANDLE_VALUE;
    std::vector<HANDLE> requestHandles;
    int overlappedRequests = 0;
    std::vector<HANDLE> closed;
};
DeviceCalls g_calls;
decltype(&CreateFileA) g_realCreateFile = nullptr;
decltype(&DeviceIoControl) g_realDeviceIoControl = nullptr;
decltype(&CloseHandle) g_realCloseHandle = nullptr;

HANDLE WINAPI RecordCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
    ++g_calls.opens;
    g_calls.name = name ? name : "<null>";
    g_calls.access = access;
    g_calls.share = share;
    g_calls.security = security;
    g_calls.disposition = disposition;
    g_calls.flags = flags;
    g_calls.templateFile = templateFile;
    g_calls.opened = g_realCreateFile(name, access, share, security, disposition, flags, templateFile);
    return g_calls.opened;
}

BOOL WINAPI RecordDeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                                  DWORD outputSize, LPDWORD byteCount, LPOVERLAPPED overlapped) {
    g_calls.requestHandles.push_back(device);
    if (overlapped) ++g_calls.overlappedRequests;
    return g_realDeviceIoControl(device, code, input, inputSize, output, outputSize, byteCount, overlapped);
}

BOOL WINAPI RecordCloseHandle(HANDLE handle) {
    g_calls.closed.push_back(handle);
    return g_realCloseHandle(handle);
}

TEST_F(EnumeratorClientWithDevice, OpensTheDeviceAsALoadingRequestAndClosesItOnce) {
    ASSERT_TRUE(device_.AddModule("VXDLDR"));
    ASSERT_TRUE(device_.AddDevice("VMM"));
    g_calls = DeviceCalls();
    {
        ScopedImportPatch open("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&RecordCreateFile));
        ScopedImportPatch request("kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&RecordDeviceIoControl));
        ScopedImportPatch close("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&RecordCloseHandle));
        g_realCreateFile = reinterpret_cast<decltype(&CreateFileA)>(open.previous());
        g_realDeviceIoControl = reinterpret_cast<decltype(&DeviceIoControl)>(request.previous());
        g_realCloseHandle = reinterpret_cast<decltype(&CloseHandle)>(close.previous());
        ASSERT_TRUE(g_realCreateFile && g_realDeviceIoControl && g_realCloseHandle);
        ClientInventory inventory;
        inventory.QueryEnumeratorDriver();
        EXPECT_EQ(1u, inventory.DriverNameCount());
        EXPECT_EQ(1u, inventory.DeviceNameCount());
    }
    ASSERT_EQ(1, g_calls.opens);
    EXPECT_EQ("\\\\.\\ORV_DE.vxd", g_calls.name);
    EXPECT_EQ(0u, g_calls.access);
    EXPECT_EQ(0u, g_calls.share);
    EXPECT_EQ(nullptr, g_calls.security);
    EXPECT_EQ(static_cast<DWORD>(OPEN_ALWAYS), g_calls.disposition);
    EXPECT_EQ(static_cast<DWORD>(FILE_FLAG_DELETE_ON_CLOSE), g_calls.flags);
    EXPECT_EQ(nullptr, g_calls.templateFile);
    ASSERT_NE(INVALID_HANDLE_VALUE, g_calls.opened);
    EXPECT_EQ(std::vector<HANDLE>(3, g_calls.opened), g_calls.requestHandles);   // two 0x8002, one 0x8003
    EXPECT_EQ(0, g_calls.overlappedRequests);
    EXPECT_EQ(std::vector<HANDLE>{g_calls.opened}, g_calls.closed);
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
        {"names of 15, 16 and 26 characters", {name15, name15 + "P", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"}, {},
         {name15, name15, name15}, 4},
        {"second request fails with a whole record",
         {"A", "B", "C"}, {{kGetModule, 1, TRUE, kRecordSize, FALSE, 31}}, {"A"}, 2},
        {"byte count 0xFFFFFFFE from a succeeding request",
         {"A", "B", "C"}, {{kGetModule, 2, FALSE, 0xFFFFFFFEu, TRUE, 0}}, {"A", "B"}, 3},
        {"byte count 0xFFFFFFFF from a succeeding request",
         {"A", "B", "C"}, {{kGetModule, 0, FALSE, 0xFFFFFFFFu, TRUE, 0}}, {}, 1},
        {"byte count 0 from a succeeding request", {"A", "B"}, {{kGetModule, 1, FALSE, 0, TRUE, 0}}, {"A"}, 2},
        {"a record cut short", {"A", "B"}, {{kGetModule, 1, TRUE, 5, TRUE, 0}}, {"A"}, 2},
        {"a byte count larger than the record", {"A", "B"}, {{kGetModule, 0, TRUE, 400, TRUE, 0}}, {"A", "B"}, 3},
    };
    for (const ModuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        device_.Reset();
        for (const std::string& m : c.modules) ASSERT_TRUE(device_.AddModule(m));
        for (const TestDeviceOverride& o : c.overrides) ASSERT_TRUE(device_.AddOverride(o));

        ClientInventory inventory;
        inventory.QueryEnumeratorDriver();
        EXPECT_EQ(c.expectedNames, inventory.DriverNames());
        // No stray entry after the last used slot.
        EXPECT_EQ('\0', inventory.DriverSlot(inventory.DriverNameCount())[0]);

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
    ClientInventory inventory;
    inventory.QueryEnumeratorDriver();
    ASSERT_EQ(1024u, inventory.DriverNameCount());
    EXPECT_STREQ("M0000", inventory.DriverSlot(0));
    EXPECT_STREQ("M1023", inventory.DriverSlot(1023));
    EXPECT_EQ(1024u, device_.RequestsOf(kGetModule).size());
}

struct DeviceCase {
    const char* what;
    int devices;                    // devices in the chain: DEV00000, DEV00001, ...
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

        ClientInventory inventory;
        inventory.QueryEnumeratorDriver();
        ASSERT_EQ(c.expectedCount, inventory.DeviceNameCount());
        for (DWORD i = 0; i < c.expectedCount; ++i) {
            wsprintfA(name, "DEV%05d", i);
            ASSERT_EQ(0, memcmp(inventory.DeviceList() + 9 * i, name, 8)) << i;
            ASSERT_EQ(0, inventory.DeviceList()[9 * i + 8]);
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
    ClientInventory inventory;
    inventory.QueryEnumeratorDriver();
    ASSERT_EQ(2u, inventory.DeviceNameCount());
    EXPECT_EQ(2u, inventory.FindDeviceName("ios     "));
    EXPECT_EQ(0u, inventory.FindDeviceName("IOS"));
    EXPECT_EQ(1u, inventory.FindDeviceName("VMM     "));
}

TEST(EnumeratorClientMatch, DriverNamesMatchFileNamesWithoutTheirLastFourCharacters) {
    ClientInventory inventory;
    // The empty slot would equal ABCD with its last four characters cut: ABCD must never be
    // compared. ABCDE is compared as A.
    inventory.SetDriverNames({"vxdldr", "orv_de", "", "a", "IOS"});
    struct {
        const char* name;
        DWORD active;
    } rows[] = {
        {"ORV_DE.VXD", 1}, {"ABCD", 0},   {"ABCDE", 1},  {"IOS.VXD", 1}, {"IOS.386", 1},
        {"IOS", 0},        {"VXDLDR.VXD", 1}, {"PCI.VXD", 0}, {"IOS.VXD", 1},
    };
    for (const auto& row : rows) inventory.AddRow(row.name);
    inventory.MatchDriverNames();
    for (DWORD i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        EXPECT_EQ(rows[i].active, inventory.Row(i).active) << rows[i].name;
    }
    EXPECT_EQ(2u, inventory.FindDriverName("ORV_DE"));
    EXPECT_EQ(0u, inventory.FindDriverName("ORV_DE.VXD"));
}

TEST(EnumeratorClientMatch, DeviceNamesMatchOnlyWithTheirBlanks) {
    ClientInventory inventory;
    inventory.SetDeviceNames({"IOS     ", "VMM     "});
    struct {
        const char* name;
        const char* deviceName;   // up to 9 bytes; 9 means no zero byte
        DWORD active;
    } rows[] = {
        {"A.VXD", "IOS", 0},
        {"B.VXD", "ios     ", 1},
        {"C.VXD", "", 0},
        {"D.VXD", "VMM     X", 1},   // no terminator: read as its first 8 characters
        {"E.VXD", "IOS    ", 0},
    };
    for (const auto& row : rows) inventory.AddRow(row.name, 0, row.deviceName);
    inventory.MatchDeviceNames();
    for (DWORD i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        EXPECT_EQ(rows[i].active, inventory.Row(i).active) << rows[i].name;
    }
}

TEST(EnumeratorClientMatch, RowsAlreadyActiveAreNotComparedAgain) {
    // A comparison that matched would set the flag to 1; rows marked with another non-zero
    // value keep it only if neither pass looks at them.
    ClientInventory inventory;
    inventory.SetDriverNames({"IOS"});
    inventory.SetDeviceNames({"IOS     "});
    inventory.AddRow("IOS.VXD", 7);
    inventory.AddRow("PCI.VXD", 5, "IOS     ");
    inventory.AddRow("IOS.VXD", 0);
    inventory.MatchDriverNames();
    inventory.MatchDeviceNames();
    EXPECT_EQ(7u, inventory.Row(0).active);
    EXPECT_EQ(5u, inventory.Row(1).active);
    EXPECT_EQ(1u, inventory.Row(2).active);
}

}  // namespace
