// The two passes that mark rows from the enumerator driver's lists, on lists filled as the
// client fills them: module records for the driver names, the reply bytes for the device
// names.
#include "enumerator_matches.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A 17-byte module record: load count, then the name in 16 bytes.
void AddModules(DriverNameList& list, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        BYTE record[17] = {1};
        memcpy(record + 1, name.data(), name.size() < 16 ? name.size() : 16);
        ASSERT_EQ(1, list.AddModuleRecord(record));
    }
}

// Entries exactly as the driver delivers them: 8 name bytes and a zero.
void SetDevices(DeviceNameList& list, const std::vector<std::string>& names) {
    BYTE* reply = list.ReplyBuffer();
    ASSERT_NE(nullptr, reply);
    for (size_t i = 0; i < names.size(); ++i) {
        memset(reply + 9 * i, 0, 9);
        memcpy(reply + 9 * i, names[i].data(), names[i].size() < 8 ? names[i].size() : 8);
    }
    list.TakeReply(true, static_cast<DWORD>(9 * names.size()));
}

void AddRow(DriverTable& table, const char* name, bool active = false, const char* deviceName = "") {
    ASSERT_TRUE(table.AddItem(name, (std::string("C:\\WINDOWS\\SYSTEM\\") + name).c_str(), 0, 0));
    DriverItem& row = table.Row(table.Count() - 1);
    row.active = active;
    memcpy(row.deviceName, deviceName, strlen(deviceName) < 9 ? strlen(deviceName) : 9);
}

TEST(EnumeratorMatches, DriverNamesMatchFileNamesWithoutTheirLastFourCharacters) {
    DriverNameList driverNames;
    // The empty slot would equal ABCD with its last four characters cut: ABCD must never be
    // compared. ABCDE is compared as A.
    AddModules(driverNames, {"vxdldr", "orv_de", "", "a", "IOS"});
    const struct {
        const char* name;
        bool active;
    } rows[] = {
        {"ORV_DE.VXD", true}, {"ABCD", false},      {"ABCDE", true},    {"IOS.VXD", true}, {"IOS.386", true},
        {"IOS", false},       {"VXDLDR.VXD", true}, {"PCI.VXD", false}, {"IOS.VXD", true},
    };
    DriverTable table;
    for (const auto& row : rows) AddRow(table, row.name);
    MatchDriverNames(driverNames, table);
    for (DWORD i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        EXPECT_EQ(rows[i].active, table.Row(i).active) << rows[i].name;
    }
    EXPECT_EQ(1u, driverNames.FindDriverName("ORV_DE"));
    EXPECT_EQ(DriverNameList::kNotListed, driverNames.FindDriverName("ORV_DE.VXD"));
}

TEST(EnumeratorMatches, DeviceNamesMatchOnlyWithTheirBlanks) {
    DeviceNameList deviceNames;
    SetDevices(deviceNames, {"IOS     ", "VMM     "});
    const struct {
        const char* name;
        const char* deviceName;   // up to 9 bytes; 9 means no zero byte
        bool active;
    } rows[] = {
        {"A.VXD", "IOS", false},     {"B.VXD", "ios     ", true},
        {"C.VXD", "", false},        {"D.VXD", "VMM     X", true},   // no terminator: read as its first 8 characters
        {"E.VXD", "IOS    ", false},
    };
    DriverTable table;
    for (const auto& row : rows) AddRow(table, row.name, false, row.deviceName);
    MatchDeviceNames(deviceNames, table);
    for (DWORD i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        EXPECT_EQ(rows[i].active, table.Row(i).active) << rows[i].name;
    }
}

// The passes only add rows: a row the plug-and-play scan marked stays active whether or not a
// list names it, and a row that neither list names stays as it was.
TEST(EnumeratorMatches, RowsAlreadyActiveStayActive) {
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    AddModules(driverNames, {"IOS"});
    SetDevices(deviceNames, {"IOS     "});
    const struct {
        const char* name;
        bool activeBefore;
        const char* deviceName;
        bool activeAfter;
    } rows[] = {
        {"NDIS.VXD", true, "", true},            // marked by the scan, in neither list
        {"IOS.VXD", true, "IOS     ", true},     // marked by the scan, in both lists
        {"PCI.VXD", false, "IOS     ", true},    // marked by its device name
        {"VMM.VXD", false, "VMM     ", false},   // in neither list
    };
    DriverTable table;
    for (const auto& row : rows) AddRow(table, row.name, row.activeBefore, row.deviceName);
    MatchDriverNames(driverNames, table);
    MatchDeviceNames(deviceNames, table);
    for (DWORD i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        EXPECT_EQ(rows[i].activeAfter, table.Row(i).active) << rows[i].name;
    }
}

TEST(EnumeratorMatches, EmptyListsMarkNothing) {
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    DriverTable table;
    AddRow(table, "IOS.VXD");
    AddRow(table, "EMPTY.VXD");   // an empty device name
    MatchDriverNames(driverNames, table);
    MatchDeviceNames(deviceNames, table);
    EXPECT_FALSE(table.Row(0).active);
    EXPECT_FALSE(table.Row(1).active);
}

}   // namespace
