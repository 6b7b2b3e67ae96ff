// What the Drivers object reads from an inventory: the accessors, whose index counts from 1,
// the date text, and the timing report.
#include "driver_inventory.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "import_patch.h"

namespace {

const char kStamp[] = "01.00.00.0001";

// Rows that stay after compaction: active and stamped, with the given last-write times.
DriverTable FinalRows(std::initializer_list<std::pair<const char*, FILETIME>> rows) {
    DriverTable table;
    for (const auto& row : rows) {
        table.AddItem(row.first, (std::string("C:\\WINDOWS\\SYSTEM\\") + row.first).c_str(),
                      row.second.dwLowDateTime, row.second.dwHighDateTime);
        lstrcpyA(table.Row(table.Count() - 1).versionStamp, kStamp);
        table.Row(table.Count() - 1).active = 1;
    }
    return table;
}

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME utc = {year, month, 0, day, hour, minute, 0, 0};
    FILETIME time = {};
    SystemTimeToFileTime(&utc, &time);
    return time;
}

TEST(DriverInventoryAccessors, IndexOneIsTheFirstRowAndTheCountTheLast) {
    DriverInventory inventory(FinalRows({{"FIRST.VXD", Utc(1998, 5, 11, 0, 0)},
                                         {"MIDDLE.VXD", Utc(1999, 4, 23, 0, 0)},
                                         {"LAST.VXD", Utc(2001, 12, 31, 0, 0)}}));
    ASSERT_EQ(3u, inventory.GetItemCount());
    const struct {
        DWORD index;
        const char* name;
        const char* date;
    } cases[] = {{1, "FIRST.VXD", "1998/05/11"}, {2, "MIDDLE.VXD", "1999/04/23"}, {3, "LAST.VXD", "2001/12/31"}};
    for (const auto& c : cases) {
        char name[512] = {}, stamp[128] = {}, date[64] = {};
        ASSERT_EQ(1, inventory.GetItemNameAndStamp(name, stamp, c.index));
        ASSERT_EQ(1, inventory.GetItemDate(date, c.index));
        EXPECT_STREQ(c.name, name) << c.index;
        EXPECT_STREQ(kStamp, stamp) << c.index;
        EXPECT_STREQ(c.date, date) << "the date of the same file, index " << c.index;
    }
}

TEST(DriverInventoryAccessors, RefuseIndexZeroAndPastTheEndWithoutWriting) {
    DriverInventory inventory(FinalRows({{"A.VXD", Utc(1999, 7, 4, 0, 0)}}));
    for (DWORD index : {0u, 2u, 0xFFFFFFFFu}) {
        char name[512] = "untouched", stamp[128] = "untouched", date[64] = "untouched";
        EXPECT_EQ(0, inventory.GetItemNameAndStamp(name, stamp, index));
        EXPECT_EQ(0, inventory.GetItemDate(date, index));
        EXPECT_STREQ("untouched", name);
        EXPECT_STREQ("untouched", stamp);
        EXPECT_STREQ("untouched", date);
    }
}

TEST(DriverInventoryAccessors, DateIsTheUtcDateOfTheLastWriteTime) {
    // A time the conversion rejects (above 0x8000000000000000) leaves the date cleared.
    const FILETIME rejected = {0, 0x80000000u};
    DriverInventory inventory(FinalRows({{"D1.VXD", Utc(1999, 7, 4, 23, 30)},
                                         {"D2.VXD", Utc(2001, 12, 31, 0, 0)},
                                         {"D3.VXD", Utc(1601, 1, 1, 0, 0)},
                                         {"BAD.VXD", rejected}}));
    const char* expected[] = {"1999/07/04", "2001/12/31", "1601/01/01", "0000/00/00"};
    for (DWORD index = 1; index <= 4; ++index) {
        char date[64];
        ASSERT_EQ(1, inventory.GetItemDate(date, index));
        EXPECT_STREQ(expected[index - 1], date);
    }
}

// A conversion that rejects the time and leaves bytes of its own in the record still gives
// the cleared date.
BOOL WINAPI FailingConversion(const FILETIME*, SYSTEMTIME* out) {
    memset(out, 0x7F, sizeof(*out));
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

TEST(DriverInventoryAccessors, RejectedTimeGivesTheClearedDateWhateverTheConversionLeft) {
    DriverInventory inventory(FinalRows({{"BAD.VXD", {0, 0x80000000u}}}));
    char date[64] = {};
    {
        ScopedImportPatch conversion("kernel32.dll", "FileTimeToSystemTime",
                                     reinterpret_cast<void*>(&FailingConversion));
        ASSERT_NE(nullptr, conversion.previous());
        ASSERT_EQ(1, inventory.GetItemDate(date, 1));
    }
    EXPECT_STREQ("0000/00/00", date);
}

// The timing report as a user sees it: with the timing flag, one box after the run, captioned
// "ActiveDriverList", that tells how long the run took (a clock that advances 250 ms whenever
// it is read, across the wrap of the tick count); without it, no box.
int g_clockReads = 0;
int g_boxes = 0;
std::string g_text, g_caption;

DWORD WINAPI FakeTickCount() { return 0xFFFFFF00u + 250u * static_cast<DWORD>(g_clockReads++); }

int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
    ++g_boxes;
    g_text = text ? text : "<null>";
    g_caption = caption ? caption : "<null>";
    return IDOK;
}

TEST(DriverInventoryRun, TimingFlagShowsOneBoxWithTheRunsMilliseconds) {
    ScopedImportPatch clock("kernel32.dll", "GetTickCount", reinterpret_cast<void*>(&FakeTickCount));
    ScopedImportPatch box("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordBox));
    ASSERT_NE(nullptr, clock.previous());
    ASSERT_NE(nullptr, box.previous());

    g_clockReads = 0;
    g_boxes = 0;
    { DriverInventory untimed(0); }
    EXPECT_EQ(0, g_boxes);

    g_clockReads = 0;
    { DriverInventory timed(1); }
    ASSERT_EQ(1, g_boxes);
    EXPECT_EQ("Time = 250 ms", g_text);
    EXPECT_EQ("ActiveDriverList", g_caption);
}

}  // namespace
