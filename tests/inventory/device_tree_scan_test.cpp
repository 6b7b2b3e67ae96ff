// The plug-and-play registry scan on device trees built in the platform's real registry
// (device_tree_fixture.h). The platform's own device nodes stay as they are and mark none of
// the rows used here.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device_tree_fixture.h"
#include "driver_inventory.h"
#include "import_patch.h"

namespace {

using device_tree_fixture::DeviceTree;
using device_tree_fixture::KeyExists;
using device_tree_fixture::kDeviceTree;

class ScanInventory : public DriverInventory {
public:
    ScanInventory() : DriverInventory(TablesOnly()) {}
    using DriverInventory::FindItemByFileName;
    using DriverInventory::MarkListedFiles;
    using DriverInventory::ScanDeviceTree;

    void AddRow(const std::string& name, const char* directory = "C:\\WINDOWS\\SYSTEM") {
        AddItem(name.c_str(), (std::string(directory) + "\\" + name).c_str(), 0, 0);
    }
    DWORD& Active(DWORD row) { return items_[row].active; }
    std::set<DWORD> ActiveRows() const {
        std::set<DWORD> rows;
        for (DWORD i = 0; i < itemCount_; ++i) {
            if (items_[i].active) rows.insert(i);
        }
        return rows;
    }
};

// Rows of a small machine, in table order.
const std::string kLongName = std::string(296, 'L') + ".VXD";   // too long for a list piece
const std::vector<std::string> kRows = {"VPOWERD.VXD", "PCI.VXD", "IOS.VXD", "PXI", "A.VXD",
                                        "B.VXD", kLongName, "ESDI_506.PDR"};
enum Row : DWORD { kVpowerd, kPci, kIos, kPxi, kA, kB, kLong, kEsdi };

struct ClassValue {
    const char* name;
    DWORD type;
    std::string data;   // exact bytes stored
};

std::string Sz(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

struct ListCase {
    const char* what;
    std::vector<ClassValue> values;
    std::set<DWORD> marked;
};

TEST(DeviceTreeScan, ClassKeyValuesMarkTheRowsTheirListNames) {
    const std::string tooLong = Sz("a.vxd," + std::string(1100, 'x'));
    const std::string fillsNoZero = "a.vxd," + std::string(1024 - 6, 'x');         // 1024 bytes
    const std::string fitsExactly = Sz("a.vxd," + std::string(1023 - 6, 'x'));     // 1023 + zero
    const DWORD pxi = 'P' | ('X' << 8) | ('I' << 16);
    const ListCase cases[] = {
        {"DeviceVxDs of two names", {{"DeviceVxDs", REG_SZ, Sz("vpowerd.vxd,pci.vxd")}}, {kVpowerd, kPci}},
        {"a blank after the comma", {{"DeviceVxDs", REG_SZ, Sz("vpowerd.vxd, pci.vxd")}}, {kVpowerd}},
        {"Driver wins over DeviceVxDs",
         {{"DeviceVxDs", REG_SZ, Sz("pci.vxd")}, {"Driver", REG_SZ, Sz("ios.vxd")}}, {kIos}},
        {"DeviceVxDs wins over PortDriver",
         {{"PortDriver", REG_SZ, Sz("esdi_506.pdr")}, {"DeviceVxDs", REG_SZ, Sz("pci.vxd")}}, {kPci}},
        {"PortDriver", {{"PortDriver", REG_SZ, Sz("ESDI_506.PDR")}}, {kEsdi}},
        {"MTD", {{"MTD", REG_SZ, Sz("a.vxd")}}, {kA}},
        {"MouseDriver", {{"MouseDriver", REG_SZ, Sz("b.vxd")}}, {kB}},
        {"none of the five values", {{"Drivers", REG_SZ, Sz("pci.vxd")}}, {}},
        {"empty pieces", {{"DeviceVxDs", REG_SZ, Sz(",,ios.vxd,")}}, {kIos}},
        {"empty list", {{"DeviceVxDs", REG_SZ, Sz("")}}, {}},
        {"a path matches no row", {{"DeviceVxDs", REG_SZ, Sz("C:\\WINDOWS\\SYSTEM\\PCI.VXD")}}, {}},
        {"a piece over 255 characters is skipped",
         {{"DeviceVxDs", REG_SZ, Sz(kLongName + ",pci.vxd")}}, {kPci}},
        // Bad data: the value buffer holds 1024 bytes.
        {"value longer than the buffer counts as absent",
         {{"Driver", REG_SZ, tooLong}, {"DeviceVxDs", REG_SZ, Sz("pci.vxd")}}, {kPci}},
        {"1024 bytes without a zero count as absent",
         {{"Driver", REG_BINARY, fillsNoZero}, {"DeviceVxDs", REG_SZ, Sz("ios.vxd")}}, {kIos}},
        {"1023 characters and the zero fit", {{"Driver", REG_SZ, fitsExactly}}, {kA}},
        {"string stored without its zero", {{"Driver", REG_SZ, "ios.vxd"}}, {kIos}},
        {"binary data without a zero", {{"Driver", REG_BINARY, "pci.vxd"}}, {kPci}},
        {"a number is read as its bytes",
         {{"Driver", REG_DWORD, std::string(reinterpret_cast<const char*>(&pxi), 4)}}, {kPxi}},
        {"a multi-string gives its first string",
         {{"Driver", REG_MULTI_SZ, std::string("a.vxd\0b.vxd\0\0", 14)}}, {kA}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceTree tree;
        tree.AddChain("NODE", "0000");
        for (const ClassValue& v : c.values) {
            DeviceTree::SetValue(HKEY_LOCAL_MACHINE, tree.ClassPath("0000"), v.name, v.type, v.data);
        }
        ScanInventory inventory;
        for (const std::string& row : kRows) inventory.AddRow(row);
        inventory.ScanDeviceTree();
        EXPECT_EQ(c.marked, inventory.ActiveRows());
    }
}

TEST(DeviceTreeScan, NodesThatFailAtAnyStageAreSkippedAndTheScanGoesOn) {
    DeviceTree tree;
    // Nodes are visited in the platform's enumeration order; the working ones sit among the
    // broken ones either way.
    tree.AddChain("A_WORKS", "VPOWERD");
    tree.SetClassValue("VPOWERD", "DeviceVxDs", "vpowerd.vxd");

    tree.AddNode("B_NO_HARDWARE_KEY_VALUE");
    tree.AddNode("C_HARDWARE_KEY_GONE");
    DeviceTree::SetString(HKEY_DYN_DATA, tree.NodePath("C_HARDWARE_KEY_GONE"), "HardWareKey",
                          tree.HardwareKey("NOT_THERE"));
    tree.AddChain("D_NO_DRIVER_VALUE", "A");
    tree.SetClassValue("A", "Driver", "a.vxd");
    DeviceTree::DeleteValue(HKEY_LOCAL_MACHINE, tree.HardwarePath("D_NO_DRIVER_VALUE"), "Driver");
    tree.AddChain("E_CLASS_KEY_GONE", "B");
    tree.SetClassValue("B", "Driver", "b.vxd");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, tree.ClassPath("B").c_str());
    // Values longer than the value buffer, and key paths longer than 1023 characters.
    tree.AddNode("F_HARDWARE_KEY_TOO_LONG");
    DeviceTree::SetString(HKEY_DYN_DATA, tree.NodePath("F_HARDWARE_KEY_TOO_LONG"), "HardWareKey",
                          std::string(1100, 'h'));
    tree.AddNode("G_ENUM_PATH_TOO_LONG");   // "Enum\" + 1019 characters: 1024
    DeviceTree::SetString(HKEY_DYN_DATA, tree.NodePath("G_ENUM_PATH_TOO_LONG"), "HardWareKey",
                          std::string(1019, 'h'));
    tree.AddChain("H_CLASS_PATH_TOO_LONG", "UNUSED");   // class root + "\" + 984 characters: 1024
    DeviceTree::SetString(HKEY_LOCAL_MACHINE, tree.HardwarePath("H_CLASS_PATH_TOO_LONG"), "Driver",
                          std::string(984, 'c'));

    tree.AddChain("I_WORKS", "PCI");
    tree.SetClassValue("PCI", "DeviceVxDs", "pci.vxd");
    tree.AddChain("J_SAME_CLASS_AGAIN", "VPOWERD");
    // A hardware key value stored without its zero still leads to its key.
    tree.AddChain("K_UNTERMINATED_HARDWARE_KEY", "IOS");
    tree.SetClassValue("IOS", "Driver", "ios.vxd");
    const std::string hardwareKey = tree.HardwareKey("K_UNTERMINATED_HARDWARE_KEY");
    DeviceTree::SetValue(HKEY_DYN_DATA, tree.NodePath("K_UNTERMINATED_HARDWARE_KEY"), "HardWareKey",
                         REG_SZ, hardwareKey);

    ScanInventory inventory;
    for (const std::string& row : kRows) inventory.AddRow(row);
    inventory.ScanDeviceTree();
    EXPECT_EQ((std::set<DWORD>{kVpowerd, kPci, kIos}), inventory.ActiveRows());
}

// The registry calls as they leave the scan: every key opened with KEY_ALL_ACCESS, every
// enumeration and every query given the whole 1024 of its buffer, every key it opened closed
// again and nothing else closed, on working and failing nodes alike.
struct RegistryCalls {
    int opens = 0, openedKeys = 0, otherAccess = 0;
    int enumerations = 0, enumerationsNotGiven1024 = 0;
    int queries = 0, queriesNotGiven1024 = 0;
    std::set<HKEY> open;
    int closesOfOthers = 0;
};
RegistryCalls g_registry;
decltype(&RegOpenKeyExA) g_realOpenKey = nullptr;
decltype(&RegEnumKeyExA) g_realEnumKey = nullptr;
decltype(&RegQueryValueExA) g_realQueryValue = nullptr;
decltype(&RegCloseKey) g_realCloseKey = nullptr;

LONG WINAPI RecordOpenKey(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    ++g_registry.opens;
    if (access != KEY_ALL_ACCESS) ++g_registry.otherAccess;
    const LONG status = g_realOpenKey(parent, path, options, access, key);
    if (status == ERROR_SUCCESS) {
        ++g_registry.openedKeys;
        g_registry.open.insert(*key);
    } else {
        // What a failing open leaves in its out-parameter is no key: closing it would be an error.
        *key = reinterpret_cast<HKEY>(0x0BADF00D);
    }
    return status;
}
LONG WINAPI RecordEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved, LPSTR className,
                          LPDWORD classLength, PFILETIME lastWrite) {
    ++g_registry.enumerations;
    if (!nameLength || *nameLength != 1024) ++g_registry.enumerationsNotGiven1024;
    return g_realEnumKey(key, index, name, nameLength, reserved, className, classLength, lastWrite);
}
LONG WINAPI RecordQueryValue(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    ++g_registry.queries;
    if (!data || !size || *size != 1024) ++g_registry.queriesNotGiven1024;
    return g_realQueryValue(key, name, reserved, type, data, size);
}
LONG WINAPI RecordCloseKey(HKEY key) {
    if (!g_registry.open.erase(key)) ++g_registry.closesOfOthers;
    return g_realCloseKey(key);
}

TEST(DeviceTreeScan, EveryKeyOpenedWithFullAccessAndClosedAgain) {
    DeviceTree tree;
    tree.AddChain("A_WORKS", "VPOWERD");
    tree.SetClassValue("VPOWERD", "DeviceVxDs", "vpowerd.vxd");
    tree.AddNode("B_NO_HARDWARE_KEY_VALUE");
    tree.AddChain("C_NO_LIST", "EMPTY");
    tree.AddChain("D_CLASS_KEY_GONE", "GONE");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, tree.ClassPath("GONE").c_str());

    ScanInventory inventory;
    for (const std::string& row : kRows) inventory.AddRow(row);
    g_registry = RegistryCalls();
    {
        ScopedImportPatch open("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&RecordOpenKey));
        ScopedImportPatch enumerate("advapi32.dll", "RegEnumKeyExA", reinterpret_cast<void*>(&RecordEnumKey));
        ScopedImportPatch query("advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&RecordQueryValue));
        ScopedImportPatch close("advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&RecordCloseKey));
        g_realOpenKey = reinterpret_cast<decltype(&RegOpenKeyExA)>(open.previous());
        g_realEnumKey = reinterpret_cast<decltype(&RegEnumKeyExA)>(enumerate.previous());
        g_realQueryValue = reinterpret_cast<decltype(&RegQueryValueExA)>(query.previous());
        g_realCloseKey = reinterpret_cast<decltype(&RegCloseKey)>(close.previous());
        ASSERT_TRUE(g_realOpenKey && g_realEnumKey && g_realQueryValue && g_realCloseKey);
        inventory.ScanDeviceTree();
    }
    EXPECT_EQ((std::set<DWORD>{kVpowerd}), inventory.ActiveRows());
    // Stage 1 and, for the test's nodes: A 3 keys, B 1, C 3, D 2 (the platform's nodes add more).
    EXPECT_GE(g_registry.openedKeys, 1 + 3 + 1 + 3 + 2);
    EXPECT_EQ(0, g_registry.otherAccess);
    EXPECT_GE(g_registry.enumerations, 5);
    EXPECT_EQ(0, g_registry.enumerationsNotGiven1024);
    // A: 3 values read; B: 1; C: 2 and all five list values; D: 2.
    EXPECT_GE(g_registry.queries, 3 + 1 + 7 + 2);
    EXPECT_EQ(0, g_registry.queriesNotGiven1024);
    EXPECT_TRUE(g_registry.open.empty()) << g_registry.open.size() << " keys left open";
    EXPECT_EQ(0, g_registry.closesOfOthers);
}

TEST(DeviceTreeScan, NodesComingAndGoingDuringTheScanAreSeenOrMissedWithoutHarm) {
    DeviceTree tree;
    tree.AddChain("STABLE", "STABLE");
    tree.SetClassValue("STABLE", "DeviceVxDs", "pci.vxd");
    tree.AddChain("CHURN", "CHURN");
    tree.SetClassValue("CHURN", "DeviceVxDs", "ios.vxd");
    const int kExtraNodes = 8;
    for (int i = 0; i < kExtraNodes; ++i) tree.AddNode("EXTRA" + std::to_string(i));

    // Another thread removes and re-creates device nodes, a hardware key value and a class
    // key while the scans run, so that opens fail midway and enumeration indexes shift.
    std::atomic<bool> stop(false);
    std::thread churn([&] {
        const std::string classPath = tree.ClassPath("CHURN");
        const std::string nodePath = tree.NodePath("CHURN");
        const std::string hardwareKey = tree.HardwareKey("CHURN");
        const std::string list = "ios.vxd";
        for (unsigned round = 0; !stop; ++round) {
            const std::string extra = tree.NodePath("EXTRA" + std::to_string(round % kExtraNodes));
            HKEY key;
            if (round % 2 == 0) {
                RegDeleteKeyA(HKEY_DYN_DATA, extra.c_str());
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, classPath.c_str());
                if (RegOpenKeyExA(HKEY_DYN_DATA, nodePath.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
                    RegDeleteValueA(key, "HardWareKey");
                    RegCloseKey(key);
                }
            } else {
                if (RegCreateKeyExA(HKEY_DYN_DATA, extra.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &key, nullptr) == ERROR_SUCCESS) {
                    RegCloseKey(key);
                }
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, classPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr) == ERROR_SUCCESS) {
                    RegSetValueExA(key, "DeviceVxDs", 0, REG_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                                   static_cast<DWORD>(list.size() + 1));
                    RegCloseKey(key);
                }
                if (RegOpenKeyExA(HKEY_DYN_DATA, nodePath.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
                    RegSetValueExA(key, "HardWareKey", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(hardwareKey.c_str()),
                                   static_cast<DWORD>(hardwareKey.size() + 1));
                    RegCloseKey(key);
                }
            }
        }
    });

    const int kScans = 200;
    int stableSeen = 0;
    bool onlyListedRows = true;
    for (int scan = 0; scan < kScans; ++scan) {
        ScanInventory inventory;
        for (const std::string& row : kRows) inventory.AddRow(row);
        inventory.ScanDeviceTree();
        for (DWORD row : inventory.ActiveRows()) {
            if (row != kPci && row != kIos) onlyListedRows = false;
        }
        if (inventory.ActiveRows().count(kPci)) ++stableSeen;
    }
    stop = true;
    churn.join();
    EXPECT_TRUE(onlyListedRows);
    // Seen or missed as the indexes shift, but not lost for good.
    EXPECT_GT(stableSeen, 0);
}

TEST(DeviceTreeScan, OnlyTheFirstOfTwoSameNamedRowsIsMarked) {
    DeviceTree tree;
    tree.AddChain("NODE", "0000");
    tree.SetClassValue("0000", "DeviceVxDs", "pci.vxd");
    ScanInventory inventory;
    inventory.AddRow("PCI.VXD", "C:\\WINDOWS\\SYSTEM");
    inventory.AddRow("PCI.VXD", "C:\\WINDOWS\\SYSTEM\\IOSUBSYS");
    inventory.ScanDeviceTree();
    EXPECT_EQ((std::set<DWORD>{0}), inventory.ActiveRows());
}

TEST(DeviceTreeScan, MarkListedFilesSetsTheFlagToOneWhateverItWas) {
    ScanInventory inventory;
    for (const std::string& row : kRows) inventory.AddRow(row);
    inventory.Active(kPci) = 9;
    inventory.MarkListedFiles("Pci.Vxd,nothing.vxd,ios.vxd");
    EXPECT_EQ(1u, inventory.Active(kPci));
    EXPECT_EQ(1u, inventory.Active(kIos));
    EXPECT_EQ((std::set<DWORD>{kPci, kIos}), inventory.ActiveRows());
}

TEST(DeviceTreeScan, FindItemByFileNameGivesTheFirstEqualRowCountingFromOne) {
    ScanInventory inventory;
    EXPECT_EQ(0u, inventory.FindItemByFileName("PCI.VXD"));   // no rows
    for (const std::string& row : kRows) inventory.AddRow(row);
    inventory.AddRow("PCI.VXD");
    EXPECT_EQ(1u, inventory.FindItemByFileName("vpowerd.VXD"));
    EXPECT_EQ(2u, inventory.FindItemByFileName("pci.vxd"));
    EXPECT_EQ(0u, inventory.FindItemByFileName("PCI"));
    EXPECT_EQ(0u, inventory.FindItemByFileName(""));
}

TEST(DeviceTreeScan, NothingIsMarkedWithoutTheDeviceTreeKey) {
    // The platform may hold the key already; an empty one is taken away for the test and put
    // back after it.
    const bool existed = KeyExists(HKEY_DYN_DATA, kDeviceTree);
    if (existed) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_DYN_DATA, kDeviceTree, 0, KEY_READ, &key));
        DWORD subkeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (subkeys != 0) GTEST_SKIP() << "the platform holds device nodes of its own";
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_DYN_DATA, kDeviceTree));
    }
    ScanInventory inventory;
    for (const std::string& row : kRows) inventory.AddRow(row);
    inventory.ScanDeviceTree();
    const bool absentDuringScan = !KeyExists(HKEY_DYN_DATA, kDeviceTree);
    if (existed) DeviceTree::CreateKey(HKEY_DYN_DATA, kDeviceTree);
    ASSERT_TRUE(absentDuringScan);
    EXPECT_TRUE(inventory.ActiveRows().empty());
}

}  // namespace
