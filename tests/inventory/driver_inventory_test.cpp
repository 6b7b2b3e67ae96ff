// What the Drivers object reads from an inventory: the accessors, whose index counts from 1,
// the date text, and the timing report. The rows are files of a prepared machine.
#include "driver_inventory.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "import_patch.h"
#include "prepared_rows.h"

namespace {

using driver_fixtures::BuildVersionedPe;
using driver_fixtures::UtcFileTime;

const char kStamp[] = "01.00.00.0001";
const driver_fixtures::FileVersion kVersion = {1, 0, 0, 1};

TEST(DriverInventoryAccessors, IndexOneIsTheFirstRowAndTheCountTheLast) {
    PreparedRows rows;
    ASSERT_TRUE(rows.Add("FIRST.VXD", BuildVersionedPe(kVersion), UtcFileTime(1998, 5, 11, 0, 0), true));
    ASSERT_TRUE(rows.Add("MIDDLE.DRV", BuildVersionedPe(kVersion), UtcFileTime(1999, 4, 23, 0, 0), true));
    ASSERT_TRUE(rows.Add("LAST.SYS", BuildVersionedPe(kVersion), UtcFileTime(2001, 12, 31, 0, 0), true));
    rows.List();
    DriverInventory inventory(RunTiming::kNotShown);
    ASSERT_EQ(3u, inventory.GetItemCount());
    const struct {
        DWORD index;
        std::string name;
        const char* date;
    } cases[] = {{1, rows.Name("FIRST.VXD"), "1998/05/11"},
                 {2, rows.Name("MIDDLE.DRV"), "1999/04/23"},
                 {3, rows.Name("LAST.SYS"), "2001/12/31"}};
    for (const auto& c : cases) {
        char name[512] = {}, stamp[128] = {}, date[64] = {};
        ASSERT_TRUE(inventory.GetItemNameAndStamp(name, stamp, c.index));
        ASSERT_TRUE(inventory.GetItemDate(date, c.index));
        EXPECT_EQ(c.name, name) << c.index;
        EXPECT_STREQ(kStamp, stamp) << c.index;
        EXPECT_STREQ(c.date, date) << "the date of the same file, index " << c.index;
    }
}

TEST(DriverInventoryAccessors, RefuseIndexZeroAndPastTheEndWithoutWriting) {
    PreparedRows rows;
    ASSERT_TRUE(rows.Add("A.VXD", BuildVersionedPe(kVersion), UtcFileTime(1999, 7, 4, 0, 0), true));
    rows.List();
    DriverInventory inventory(RunTiming::kNotShown);
    ASSERT_EQ(1u, inventory.GetItemCount());
    for (DWORD index : {0u, 2u, 0xFFFFFFFFu}) {
        char name[512] = "untouched", stamp[128] = "untouched", date[64] = "untouched";
        EXPECT_FALSE(inventory.GetItemNameAndStamp(name, stamp, index));
        EXPECT_FALSE(inventory.GetItemDate(date, index));
        EXPECT_STREQ("untouched", name);
        EXPECT_STREQ("untouched", stamp);
        EXPECT_STREQ("untouched", date);
    }
}

// The date of the UTC time, not of the local one: 23:30 UTC is the same day whatever the zone.
TEST(DriverInventoryAccessors, DateIsTheUtcDateOfTheLastWriteTime) {
    PreparedRows rows;
    ASSERT_TRUE(rows.Add("D1.VXD", BuildVersionedPe(kVersion), UtcFileTime(1999, 7, 4, 23, 30), true));
    ASSERT_TRUE(rows.Add("D2.DRV", BuildVersionedPe(kVersion), UtcFileTime(2001, 12, 31, 0, 0), true));
    ASSERT_TRUE(rows.Add("D3.SYS", BuildVersionedPe(kVersion), UtcFileTime(1980, 1, 1, 0, 0), true));
    rows.List();
    DriverInventory inventory(RunTiming::kNotShown);
    ASSERT_EQ(3u, inventory.GetItemCount());
    const char* expected[] = {"1999/07/04", "2001/12/31", "1980/01/01"};
    for (DWORD index = 1; index <= 3; ++index) {
        char date[64];
        ASSERT_TRUE(inventory.GetItemDate(date, index));
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
    PreparedRows rows;
    ASSERT_TRUE(rows.Add("BAD.VXD", BuildVersionedPe(kVersion), UtcFileTime(1999, 7, 4, 0, 0), true));
    rows.List();
    DriverInventory inventory(RunTiming::kNotShown);
    ASSERT_EQ(1u, inventory.GetItemCount());
    char date[64] = {};
    {
        ScopedImportPatch conversion("kernel32.dll", "FileTimeToSystemTime",
                                     reinterpret_cast<void*>(&FailingConversion));
        ASSERT_NE(nullptr, conversion.previous());
        ASSERT_TRUE(inventory.GetItemDate(date, 1));
    }
    EXPECT_STREQ("0000/00/00", date);
}

// The timing report as a user sees it: with the timing flag, one box after the run, captioned
// "ActiveDriverList", that tells how long the run took (a clock that advances 250 ms whenever
// it is read, across the wrap of the tick count); without it, no box.
int g_clockReads = 0;
int g_boxes = 0;
std::string g_text, g_caption;

DWORD WINAPI FakeTickCount() {
    return 0xFFFFFF00u + 250u * static_cast<DWORD>(g_clockReads++);
}

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
    { DriverInventory untimed(RunTiming::kNotShown); }
    EXPECT_EQ(0, g_boxes);

    g_clockReads = 0;
    { DriverInventory timed(RunTiming::kShown); }
    ASSERT_EQ(1, g_boxes);
    EXPECT_EQ("Time = 250 ms", g_text);
    EXPECT_EQ("ActiveDriverList", g_caption);
}

}   // namespace
