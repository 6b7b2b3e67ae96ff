// The item table of the inventory: adding rows up to the limit, compaction, the accessors and
// the timing report.
#include <gtest/gtest.h>

#include <string>

#include "driver_inventory.h"
#include "import_patch.h"

namespace {

class TableInventory : public DriverInventory {
public:
    TableInventory() : DriverInventory(TablesOnly()) {}
    using DriverInventory::AddItem;
    using DriverInventory::CompactItems;
    DriverItem& Row(DWORD i) { return items_[i]; }
    DWORD Count() const { return itemCount_; }
    void Mark(DWORD i, const char* stamp, DWORD active) {
        lstrcpyA(items_[i].versionStamp, stamp);
        items_[i].active = active;
    }
};

TEST(DriverInventoryTable, AddItemCopiesTheRowAndClearsStampDeviceAndFlag) {
    TableInventory inventory;
    inventory.AddItem("IOS.VXD", "C:\\WINDOWS\\SYSTEM\\IOS.VXD", 0x11223344, 0x01BEC5D0);
    ASSERT_EQ(1u, inventory.Count());
    const DriverItem& row = inventory.Row(0);
    EXPECT_STREQ("IOS.VXD", row.fileName);
    EXPECT_STREQ("C:\\WINDOWS\\SYSTEM\\IOS.VXD", row.fullPath);
    EXPECT_EQ(0x11223344u, row.lastWriteLow);
    EXPECT_EQ(0x01BEC5D0u, row.lastWriteHigh);
    EXPECT_EQ(0u, row.active);
    for (char c : row.versionStamp) EXPECT_EQ(0, c);
    for (char c : row.deviceName) EXPECT_EQ(0, c);
}

TEST(DriverInventoryTable, HoldsAtMost1023Rows) {
    TableInventory inventory;
    for (int i = 0; i < 1100; ++i) {
        std::string name = "F" + std::to_string(i) + ".VXD";
        inventory.AddItem(name.c_str(), ("C:\\" + name).c_str(), i, 0);
    }
    EXPECT_EQ(1023u, inventory.Count());
    EXPECT_STREQ("F1022.VXD", inventory.Row(1022).fileName);
}

TEST(DriverInventoryTable, CompactionKeepsActiveStampedRowsInScanOrder) {
    TableInventory inventory;
    const struct {
        const char* name;
        const char* stamp;
        DWORD active;
    } rows[] = {
        {"KEEP1.VXD", "04.10.00.2222", 1}, {"NOSTAMP.VXD", "", 1},
        {"IDLE.VXD", "04.10.00.1998", 0},  {"KEEP2.SYS", "05.00.01.2195", 7},   // any non-zero flag
        {"KEEP1.VXD", "04.10.00.2222", 1},   // the same name from another directory stays
    };
    for (const auto& row : rows) {
        inventory.AddItem(row.name, row.name, 0, 0);
        inventory.Mark(inventory.Count() - 1, row.stamp, row.active);
    }
    inventory.CompactItems();
    ASSERT_EQ(3u, inventory.GetItemCount());
    char name[512], stamp[128];
    const char* expected[] = {"KEEP1.VXD", "KEEP2.SYS", "KEEP1.VXD"};
    for (DWORD index = 1; index <= 3; ++index) {
        ASSERT_EQ(1, inventory.GetItemNameAndStamp(name, stamp, index));
        EXPECT_STREQ(expected[index - 1], name);
    }
}

TEST(DriverInventoryTable, AccessorsRefuseIndexZeroAndPastTheEndWithoutWriting) {
    TableInventory inventory;
    inventory.AddItem("A.VXD", "C:\\A.VXD", 0, 0);
    inventory.Mark(0, "01.00.00.0001", 1);
    inventory.CompactItems();
    for (DWORD index : {0u, 2u, 0xFFFFFFFFu}) {
        char name[512] = "untouched", stamp[128] = "untouched", date[64] = "untouched";
        EXPECT_EQ(0, inventory.GetItemNameAndStamp(name, stamp, index));
        EXPECT_EQ(0, inventory.GetItemDate(date, index));
        EXPECT_STREQ("untouched", name);
        EXPECT_STREQ("untouched", stamp);
        EXPECT_STREQ("untouched", date);
    }
}

TEST(DriverInventoryTable, DateIsTheUtcDateOfTheLastWriteTime) {
    const struct {
        SYSTEMTIME utc;
        const char* date;
    } cases[] = {
        {{1999, 7, 0, 4, 23, 30, 0, 0}, "1999/07/04"},
        {{2001, 12, 0, 31, 0, 0, 0, 0}, "2001/12/31"},
        {{1601, 1, 0, 1, 0, 0, 0, 0}, "1601/01/01"},
    };
    TableInventory inventory;
    for (const auto& c : cases) {
        FILETIME time;
        ASSERT_TRUE(SystemTimeToFileTime(&c.utc, &time));
        inventory.AddItem("D.VXD", "C:\\D.VXD", time.dwLowDateTime, time.dwHighDateTime);
        inventory.Mark(inventory.Count() - 1, "01.00.00.0001", 1);
    }
    // A time the conversion rejects (above 0x8000000000000000) leaves the date cleared.
    inventory.AddItem("BAD.VXD", "C:\\BAD.VXD", 0, 0x80000000);
    inventory.Mark(inventory.Count() - 1, "01.00.00.0001", 1);
    inventory.CompactItems();

    char date[64];
    for (DWORD i = 0; i < 3; ++i) {
        ASSERT_EQ(1, inventory.GetItemDate(date, i + 1));
        EXPECT_STREQ(cases[i].date, date);
    }
    ASSERT_EQ(1, inventory.GetItemDate(date, 4));
    EXPECT_STREQ("0000/00/00", date);
}

// A conversion that rejects the time and leaves bytes of its own in the record still gives
// the cleared date.
BOOL WINAPI FailingConversion(const FILETIME*, SYSTEMTIME* out) {
    memset(out, 0x7F, sizeof(*out));
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

TEST(DriverInventoryTable, RejectedTimeGivesTheClearedDateWhateverTheConversionLeft) {
    TableInventory inventory;
    inventory.AddItem("BAD.VXD", "C:\\BAD.VXD", 0, 0x80000000);
    inventory.Mark(0, "01.00.00.0001", 1);
    inventory.CompactItems();
    char date[64] = {};
    {
        ScopedImportPatch conversion("kernel32.dll", "FileTimeToSystemTime",
                                     reinterpret_cast<void*>(&FailingConversion));
        ASSERT_NE(nullptr, conversion.previous());
        ASSERT_EQ(1, inventory.GetItemDate(date, 1));
    }
    EXPECT_STREQ("0000/00/00", date);
}

// The timing report, as the product calls the platform: the tick count before and after the
// run (a fake clock here, 250 ms apart) and one box with no owner, "Time = 250 ms", caption
// "ActiveDriverList", information icon. Timing flag 0 reads no clock and shows nothing.
struct TimingCalls {
    int ticks = 0;
    int boxes = 0;
    HWND owner = reinterpret_cast<HWND>(1);
    std::string text, caption;
    UINT style = 0;
};
TimingCalls g_timing;

DWORD WINAPI FakeTickCount() { return 0xFFFFFF00u + 250u * static_cast<DWORD>(g_timing.ticks++); }

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    ++g_timing.boxes;
    g_timing.owner = owner;
    g_timing.text = text ? text : "<null>";
    g_timing.caption = caption ? caption : "<null>";
    g_timing.style = style;
    return IDOK;
}

TEST(DriverInventoryRun, TimingFlagShowsOneBoxWithTheRunsMilliseconds) {
    ScopedImportPatch clock("kernel32.dll", "GetTickCount", reinterpret_cast<void*>(&FakeTickCount));
    ScopedImportPatch box("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordBox));
    ASSERT_NE(nullptr, clock.previous());
    ASSERT_NE(nullptr, box.previous());

    g_timing = TimingCalls();
    { DriverInventory untimed(0); }
    EXPECT_EQ(0, g_timing.ticks);
    EXPECT_EQ(0, g_timing.boxes);

    g_timing = TimingCalls();
    { DriverInventory timed(1); }
    EXPECT_EQ(2, g_timing.ticks);   // once before the run, once after (across the wrap)
    ASSERT_EQ(1, g_timing.boxes);
    EXPECT_EQ(nullptr, g_timing.owner);
    EXPECT_EQ("Time = 250 ms", g_timing.text);
    EXPECT_EQ("ActiveDriverList", g_timing.caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), g_timing.style);
}

}  // namespace
