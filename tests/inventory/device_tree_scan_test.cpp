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
#include "device_tree_scan.h"
#include "handle_ledger.h"
#include "ledger_hooks.h"
#include "registry_keys.h"

namespace {

using device_tree_fixture::DeviceTree;
using device_tree_fixture::kDeviceTree;

// Rows of a small machine, in table order.
const std::string kLongName = std::string(296, 'L') + ".VXD";   // too long for a list piece
const std::vector<std::string> kRows = {"VPOWERD.VXD", "PCI.VXD", "IOS.VXD", "PXI",
                                        "A.VXD",       "B.VXD",   kLongName, "ESDI_506.PDR"};
enum Row : DWORD { kVpowerd, kPci, kIos, kPxi, kA, kB, kLong, kEsdi };

void AddRow(DriverTable& table, const std::string& name, const char* directory = "C:\\WINDOWS\\SYSTEM") {
    table.AddItem(name.c_str(), (std::string(directory) + "\\" + name).c_str(), 0, 0);
}

// A table of the small machine's rows, none active.
DriverTable MachineRows() {
    DriverTable table;
    for (const std::string& row : kRows) AddRow(table, row);
    return table;
}

std::set<DWORD> ActiveRows(const DriverTable& table) {
    std::set<DWORD> rows;
    for (DWORD i = 0; i < table.Count(); ++i) {
        if (table.Row(i).active) rows.insert(i);
    }
    return rows;
}

struct ClassValue {
    const char* name;
    DWORD type;
    std::string data;   // exact bytes stored
};

std::string Sz(const std::string& text) {
    return std::string(text.c_str(), text.size() + 1);
}

struct ListCase {
    const char* what;
    std::vector<ClassValue> values;
    std::set<DWORD> marked;
};

TEST(DeviceTreeScan, ClassKeyValuesMarkTheRowsTheirListNames) {
    const std::string tooLong = Sz("a.vxd," + std::string(1100, 'x'));
    const std::string fillsNoZero = "a.vxd," + std::string(1024 - 6, 'x');       // 1024 bytes
    const std::string fitsExactly = Sz("a.vxd," + std::string(1023 - 6, 'x'));   // 1023 + zero
    const DWORD pxi = 'P' | ('X' << 8) | ('I' << 16);
    const ListCase cases[] = {
        {"DeviceVxDs of two names", {{"DeviceVxDs", REG_SZ, Sz("vpowerd.vxd,pci.vxd")}}, {kVpowerd, kPci}},
        {"a blank after the comma", {{"DeviceVxDs", REG_SZ, Sz("vpowerd.vxd, pci.vxd")}}, {kVpowerd}},
        {"Driver wins over DeviceVxDs",
         {{"DeviceVxDs", REG_SZ, Sz("pci.vxd")}, {"Driver", REG_SZ, Sz("ios.vxd")}},
         {kIos}},
        {"DeviceVxDs wins over PortDriver",
         {{"PortDriver", REG_SZ, Sz("esdi_506.pdr")}, {"DeviceVxDs", REG_SZ, Sz("pci.vxd")}},
         {kPci}},
        {"PortDriver", {{"PortDriver", REG_SZ, Sz("ESDI_506.PDR")}}, {kEsdi}},
        {"MTD", {{"MTD", REG_SZ, Sz("a.vxd")}}, {kA}},
        {"MouseDriver", {{"MouseDriver", REG_SZ, Sz("b.vxd")}}, {kB}},
        {"none of the five values", {{"Drivers", REG_SZ, Sz("pci.vxd")}}, {}},
        {"empty pieces", {{"DeviceVxDs", REG_SZ, Sz(",,ios.vxd,")}}, {kIos}},
        {"empty list", {{"DeviceVxDs", REG_SZ, Sz("")}}, {}},
        {"a path matches no row", {{"DeviceVxDs", REG_SZ, Sz("C:\\WINDOWS\\SYSTEM\\PCI.VXD")}}, {}},
        {"a piece over 255 characters is skipped", {{"DeviceVxDs", REG_SZ, Sz(kLongName + ",pci.vxd")}}, {kPci}},
        // Bad data: the value buffer holds 1024 bytes.
        {"value longer than the buffer counts as absent",
         {{"Driver", REG_SZ, tooLong}, {"DeviceVxDs", REG_SZ, Sz("pci.vxd")}},
         {kPci}},
        {"1024 bytes without a zero count as absent",
         {{"Driver", REG_BINARY, fillsNoZero}, {"DeviceVxDs", REG_SZ, Sz("ios.vxd")}},
         {kIos}},
        // Read after the node's shorter values: each query gets the whole buffer again.
        {"1023 characters and the zero fit", {{"Driver", REG_SZ, fitsExactly}}, {kA}},
        {"string stored without its zero", {{"Driver", REG_SZ, "ios.vxd"}}, {kIos}},
        {"binary data without a zero", {{"Driver", REG_BINARY, "pci.vxd"}}, {kPci}},
        {"a number is read as its bytes",
         {{"Driver", REG_DWORD, std::string(reinterpret_cast<const char*>(&pxi), 4)}},
         {kPxi}},
        {"a multi-string gives its first string",
         {{"Driver", REG_MULTI_SZ, std::string("a.vxd\0b.vxd\0\0", 14)}},
         {kA}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceTree tree;
        tree.AddChain("NODE", "0000");
        for (const ClassValue& v : c.values) {
            DeviceTree::SetValue(HKEY_LOCAL_MACHINE, tree.ClassPath("0000"), v.name, v.type, v.data);
        }
        DriverTable table = MachineRows();
        ScanDeviceTree(table);
        EXPECT_EQ(c.marked, ActiveRows(table));
    }
}

TEST(DeviceTreeScan, NodesThatFailAtAnyStageAreSkippedAndTheScanGoesOn) {
    DeviceTree tree;
    // Nodes are visited in the platform's enumeration order; the working ones sit among the
    // broken ones either way. Their names differ in length: an enumeration that did not get the
    // whole name buffer again would fail at a longer name after a shorter one and end the scan
    // early, missing the later working nodes.
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
    DeviceTree::SetString(HKEY_DYN_DATA, tree.NodePath("G_ENUM_PATH_TOO_LONG"), "HardWareKey", std::string(1019, 'h'));
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
    DeviceTree::SetValue(HKEY_DYN_DATA, tree.NodePath("K_UNTERMINATED_HARDWARE_KEY"), "HardWareKey", REG_SZ,
                         hardwareKey);

    DriverTable table = MachineRows();
    ScanDeviceTree(table);
    EXPECT_EQ((std::set<DWORD>{kVpowerd, kPci, kIos}), ActiveRows(table));
}

// Every key the scan opens is closed again once, on working and failing nodes alike, and what
// a failed open left in its out-parameter (no key) is never closed.
TEST(DeviceTreeScan, EveryKeyTheScanOpensIsClosedOnce) {
    DeviceTree tree;
    tree.AddChain("A_WORKS", "VPOWERD");
    tree.SetClassValue("VPOWERD", "DeviceVxDs", "vpowerd.vxd");
    tree.AddNode("B_NO_HARDWARE_KEY_VALUE");
    tree.AddChain("C_NO_LIST", "EMPTY");
    tree.AddChain("D_CLASS_KEY_GONE", "GONE");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, tree.ClassPath("GONE").c_str());

    DriverTable table = MachineRows();
    HandleLedger keys;
    int failedOpens = 0;
    {
        RegistryKeyHooks hooks(keys);
        ASSERT_TRUE(hooks.Installed());
        ScanDeviceTree(table);
        failedOpens = hooks.failedOpens();
    }
    EXPECT_EQ((std::set<DWORD>{kVpowerd}), ActiveRows(table));
    // Stage 1 and, for the test's nodes: A 3 keys, B 1, C 3, D 2 (the platform's nodes add more).
    EXPECT_GE(keys.opens(), 1 + 3 + 1 + 3 + 2);
    EXPECT_GT(failedOpens, 0) << "node D's class key is gone";
    EXPECT_EQ("", keys.Faults());
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
                if (RegCreateKeyExA(HKEY_DYN_DATA, extra.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr) == ERROR_SUCCESS) {
                    RegCloseKey(key);
                }
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, classPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr) == ERROR_SUCCESS) {
                    RegSetValueExA(key, "DeviceVxDs", 0, REG_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                                   static_cast<DWORD>(list.size() + 1));
                    RegCloseKey(key);
                }
                if (RegOpenKeyExA(HKEY_DYN_DATA, nodePath.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
                    RegSetValueExA(key, "HardWareKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(hardwareKey.c_str()),
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
        DriverTable table = MachineRows();
        ScanDeviceTree(table);
        const std::set<DWORD> active = ActiveRows(table);
        for (DWORD row : active) {
            if (row != kPci && row != kIos) onlyListedRows = false;
        }
        if (active.count(kPci)) ++stableSeen;
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
    DriverTable table;
    AddRow(table, "PCI.VXD", "C:\\WINDOWS\\SYSTEM");
    AddRow(table, "PCI.VXD", "C:\\WINDOWS\\SYSTEM\\IOSUBSYS");
    ScanDeviceTree(table);
    EXPECT_EQ((std::set<DWORD>{0}), ActiveRows(table));
}

TEST(DeviceTreeScan, NothingIsMarkedWithoutTheDeviceTreeKey) {
    // The platform may hold the key already; an empty one is taken away for the test and put
    // back after it.
    const bool existed = KeyExists(HKEY_DYN_DATA, kDeviceTree);
    if (existed) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_DYN_DATA, kDeviceTree, 0, KEY_READ, &key));
        DWORD subkeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        if (subkeys != 0) GTEST_SKIP() << "the platform holds device nodes of its own";
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_DYN_DATA, kDeviceTree));
    }
    DriverTable table = MachineRows();
    ScanDeviceTree(table);
    const bool absentDuringScan = !KeyExists(HKEY_DYN_DATA, kDeviceTree);
    if (existed) DeviceTree::CreateKey(HKEY_DYN_DATA, kDeviceTree);
    ASSERT_TRUE(absentDuringScan);
    EXPECT_TRUE(ActiveRows(table).empty());
}

}   // namespace
