// The table of rows: adding rows up to the limit, finding a row by file name, compaction, and
// handing the rows on.
#include "driver_table.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

void AddMarked(DriverTable& table, const char* name, const char* stamp, bool active) {
    ASSERT_TRUE(table.AddItem(name, (std::string("C:\\WINDOWS\\SYSTEM\\") + name).c_str(), 0, 0));
    DriverItem& row = table.Row(table.Count() - 1);
    lstrcpyA(row.versionStamp, stamp);
    row.active = active;
}

TEST(DriverTable, AddItemCopiesTheRowAndClearsStampDeviceAndFlag) {
    DriverTable table;
    ASSERT_TRUE(table.Allocated());
    EXPECT_EQ(0u, table.Count());
    EXPECT_TRUE(table.AddItem("IOS.VXD", "C:\\WINDOWS\\SYSTEM\\IOS.VXD", 0x11223344, 0x01BEC5D0));
    ASSERT_EQ(1u, table.Count());
    const DriverItem& row = table.Row(0);
    EXPECT_STREQ("IOS.VXD", row.fileName);
    EXPECT_STREQ("C:\\WINDOWS\\SYSTEM\\IOS.VXD", row.fullPath);
    EXPECT_EQ(0x11223344u, row.lastWriteLow);
    EXPECT_EQ(0x01BEC5D0u, row.lastWriteHigh);
    EXPECT_FALSE(row.active);
    for (char c : row.versionStamp) EXPECT_EQ(0, c);
    for (char c : row.deviceName) EXPECT_EQ(0, c);
}

TEST(DriverTable, HoldsAtMost1023Rows) {
    DriverTable table;
    int added = 0;
    for (int i = 0; i < 1100; ++i) {
        std::string name = "F" + std::to_string(i) + ".VXD";
        added += table.AddItem(name.c_str(), ("C:\\" + name).c_str(), i, 0) ? 1 : 0;
    }
    EXPECT_EQ(1023, added);
    EXPECT_EQ(1023u, table.Count());
    EXPECT_STREQ("F1022.VXD", table.Row(1022).fileName);
}

TEST(DriverTable, FindItemByFileNameGivesTheFirstEqualRowWithoutRegardToCase) {
    DriverTable table;
    EXPECT_EQ(DriverTable::kNoRow, table.FindItemByFileName("PCI.VXD"));   // no rows
    for (const char* name : {"VPOWERD.VXD", "PCI.VXD", "IOS.VXD", "PCI.VXD"}) AddMarked(table, name, "", false);
    EXPECT_EQ(0u, table.FindItemByFileName("vpowerd.VXD"));
    EXPECT_EQ(1u, table.FindItemByFileName("pci.vxd"));   // the first of the two
    EXPECT_EQ(2u, table.FindItemByFileName("IOS.VXD"));
    EXPECT_EQ(DriverTable::kNoRow, table.FindItemByFileName("PCI"));
    EXPECT_EQ(DriverTable::kNoRow, table.FindItemByFileName(""));
}

TEST(DriverTable, CompactionKeepsActiveStampedRowsInScanOrder) {
    DriverTable table;
    const struct {
        const char* name;
        const char* stamp;
        bool active;
    } rows[] = {
        {"KEEP1.VXD", "04.10.00.2222", true}, {"NOSTAMP.VXD", "", true},
        {"IDLE.VXD", "04.10.00.1998", false}, {"KEEP2.SYS", "05.00.01.2195", true},
        {"KEEP1.VXD", "04.10.00.2222", true},   // the same name from another directory stays
    };
    for (const auto& row : rows) AddMarked(table, row.name, row.stamp, row.active);
    table.Compact();
    ASSERT_EQ(3u, table.Count());
    const char* expected[] = {"KEEP1.VXD", "KEEP2.SYS", "KEEP1.VXD"};
    for (DWORD row = 0; row < 3; ++row) EXPECT_STREQ(expected[row], table.Row(row).fileName);
    EXPECT_STREQ("05.00.01.2195", table.Row(1).versionStamp);
    EXPECT_EQ(DriverTable::kNoRow, table.FindItemByFileName("IDLE.VXD"));
}

TEST(DriverTable, MovedRowsLeaveAnEmptyTableBehind) {
    DriverTable table;
    AddMarked(table, "A.VXD", "01.00.00.0001", true);
    DriverTable taken(std::move(table));
    EXPECT_EQ(0u, table.Count());
    EXPECT_FALSE(table.AddItem("B.VXD", "C:\\B.VXD", 0, 0)) << "a table without rows takes none";
    ASSERT_EQ(1u, taken.Count());
    EXPECT_STREQ("A.VXD", taken.Row(0).fileName);
}

// A table short of a row for want of memory says so wherever its rows go: the inventory that
// takes them must not pass for a whole one.
TEST(DriverTable, AMarkOfMissingRowsGoesWithTheRows) {
    DriverTable table;
    EXPECT_TRUE(table.Complete());
    AddMarked(table, "A.VXD", "01.00.00.0001", true);
    table.MarkShortOfMemory();
    EXPECT_FALSE(table.Complete());

    DriverTable taken(std::move(table));
    EXPECT_FALSE(taken.Complete());
    EXPECT_FALSE(table.Complete()) << "a table without rows is not a whole one";
    DriverTable assigned;
    assigned = std::move(taken);
    EXPECT_FALSE(assigned.Complete());
    EXPECT_EQ(1u, assigned.Count());
}

}   // namespace
