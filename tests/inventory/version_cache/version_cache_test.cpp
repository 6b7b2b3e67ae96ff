// The version cache on the prefix's real registry and driver directories, driven as a run
// drives it (load, scan, a stamp for every row, save when changed): the first run
// records every row and creates the key, an unchanged run takes every stamp from the cache and
// writes nothing, a changed time rewrites the entry in place, a path that is the leading part
// of another stored path never lands in that entry, damaged "DDB" values (and one that grows
// while it is read) lose nothing but themselves, "DDB" longer than a piece (an earlier
// release's, where values are not limited) is read whole, every value is written with its
// exact length, and a key that cannot be created shows its box and writes nothing. The cache
// in several pieces, under the registry limits of Windows 95/98: version_cache_registry_test.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "cache_image_walk.h"
#include "driver_file_image.h"
#include "driver_file_scan.h"
#include "driver_inventory.h"
#include "driver_machine.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "ledger_hooks.h"
#include "row_stamps.h"
#include "version_cache/version_cache.h"
#include "version_cache/version_cache_image.h"
#include "version_cache/version_cache_registry.h"

namespace {

using Bytes = std::vector<uint8_t>;
using driver_fixtures::BuildVersionedNe;
using driver_fixtures::BuildVersionedPe;
using driver_fixtures::CacheKeyBackup;
using driver_fixtures::PlacedFiles;
using driver_fixtures::ReadCacheValue;
using driver_fixtures::UtcFileTime;
using driver_fixtures::WriteCacheValue;

const char kDescription[] =
    "This key enables faster processing of data.  If deleted, it will be recreated, but the "
    "process will take 9-15 seconds longer than normal.";
const char kParentKey[] = "SOFTWARE\\Orvane\\Service\\DCOM";

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void PutWord(Bytes* out, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// The entry a row should have, laid out here independently of the product's image code.
Bytes ExpectedEntry(const DriverItem& row, const char* stamp) {
    Bytes entry = Text(row.fullPath);
    entry.insert(entry.end(), 9, 0);   // device names are empty: nothing fills them
    char field[13] = {};
    strncpy(field, stamp, sizeof(field));
    entry.insert(entry.end(), field, field + sizeof(field));
    PutWord(&entry, row.lastWriteLow);
    PutWord(&entry, row.lastWriteHigh);
    entry.push_back(0);
    entry.push_back(0);
    return entry;
}

// A row as the scan adds it, for the cache alone.
DriverItem CacheRow(const char* path, DWORD low, DWORD high) {
    DriverItem row = {};
    lstrcpyA(row.fileName, "IOS.VXD");
    lstrcpyA(row.fullPath, path);
    row.lastWriteLow = low;
    row.lastWriteHigh = high;
    return row;
}

Bytes CacheValue(DWORD* type = nullptr) {
    Bytes bytes;
    ReadCacheValue("DDB", &bytes, type);
    return bytes;
}

int32_t FindPath(const Bytes& image, const std::string& path) {
    return FindCachedPath(image.data(), static_cast<uint32_t>(image.size()), path.data(),
                          static_cast<uint32_t>(path.size()));
}

// MessageBoxA as the product calls it, through this executable's import table, recorded and
// then shown for real (without a display it returns at once).
struct RecordedBox {
    int calls;
    HWND owner;
    std::string text, caption;
    UINT style;
    int result;
};
RecordedBox g_box;
decltype(&MessageBoxA) g_realMessageBox = nullptr;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    ++g_box.calls;
    g_box.owner = owner;
    g_box.text = text ? text : "";
    g_box.caption = caption ? caption : "";
    g_box.style = style;
    g_box.result = g_realMessageBox(owner, text, caption, style);
    return g_box.result;
}

struct RecordedWrite {
    std::string name;
    DWORD type;
    Bytes data;
};
std::vector<RecordedWrite> g_writes;
decltype(&RegSetValueExA) g_realSetValue = nullptr;

LONG WINAPI RecordSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    g_writes.push_back({name ? name : "", type, data ? Bytes(data, data + size) : Bytes()});
    return g_realSetValue(key, name, reserved, type, data, size);
}

// What reading "Description" back gives: the 137 characters, then the terminating zero that
// the platform adds when it stores a string written without one and followed by a zero byte
// in memory (Windows NT and Wine count it; Windows 95/98 store the 137 bytes as given).
Bytes DescriptionAsStored() {
    Bytes stored = Text(kDescription);
    stored.push_back(0);
    return stored;
}

// The cache's part of an inventory run on the machine: the cache loaded, the directories
// scanned, every row given its stamp (from the cache or from the file), the cache saved when
// it changed.
struct CacheRun {
    DriverTable table;
    VersionCache cache;
    DWORD hits = 0;   // rows that took their stamp from the cache

    void Run() {
        LoadVersionCache(cache);
        ScanDriverFiles(table);
        hits = StampRows(table, cache);
        if (cache.Dirty()) SaveVersionCache(cache);
    }
    DWORD Count() const { return table.Count(); }
    const DriverItem& Row(DWORD i) const { return table.Row(i); }
    // The first row with this full path (compared without regard to case), or kNoRow.
    DWORD FindRow(const std::string& path) const {
        for (DWORD i = 0; i < table.Count(); ++i) {
            if (lstrcmpiA(table.Row(i).fullPath, path.c_str()) == 0) return i;
        }
        return DriverTable::kNoRow;
    }
    std::string StampOf(const std::string& path) const {
        const DWORD row = FindRow(path);
        return row == DriverTable::kNoRow ? "<no row>" : table.Row(row).versionStamp;
    }
};

// The driver files of these tests, one per directory and kind.
struct CacheFiles {
    std::string versioned, unversioned, wide, sixteenBit;
};

class VersionCacheOnTheMachine : public ::testing::Test {
protected:
    void SetUp() override {
        driver_fixtures::DeleteCacheKey();
        ASSERT_FALSE(driver_fixtures::CacheKeyExists());
        // The parent too, when nothing else is under it: a run stopped inside the test below
        // may have left it volatile.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParentKey);
        const auto directories = driver_fixtures::GetDriverDirectories();
        paths_.versioned =
            files_.Place(directories.system, "BVXCACHE_A.VXD", BuildVersionedPe({4, 10, 0, 2222}), time_);
        paths_.unversioned = files_.Place(directories.drivers, "BVXCACHE_B.SYS", Text("no version"), time_);
        paths_.wide = files_.Place(directories.ioSubSys, "BVXCACHE_C.386", BuildVersionedPe({4, 10, 100, 100}), time_);
        paths_.sixteenBit =
            files_.Place(directories.ioSubSys, "BVXCACHE_D.DRV", BuildVersionedNe({4, 0, 950, 3}), time_);
        for (const std::string* path : {&paths_.versioned, &paths_.unversioned, &paths_.wide, &paths_.sixteenBit}) {
            ASSERT_FALSE(path->empty());
        }
    }

    // Runs the cache's steps once on a fresh run; `hits` receives the rows served by the cache.
    void Run(CacheRun* run, DWORD* hits) {
        run->Run();
        *hits = run->hits;
    }

    Bytes ExpectedImage(const CacheRun& inventory) {
        Bytes image;
        for (DWORD i = 0; i < inventory.Count(); ++i) {
            const Bytes entry = ExpectedEntry(inventory.Row(i), inventory.Row(i).versionStamp);
            image.insert(image.end(), entry.begin(), entry.end());
        }
        return image;
    }

    CacheKeyBackup backup_;   // declared first: restored last, after the files are gone
    PlacedFiles files_;
    const FILETIME time_ = UtcFileTime(1999, 7, 4, 23, 30);
    CacheFiles paths_;
};

TEST_F(VersionCacheOnTheMachine, FirstRunRecordsEveryRowAndCreatesTheKey) {
    CacheRun inventory;
    DWORD hits = 99;
    Run(&inventory, &hits);
    EXPECT_EQ(0u, hits);
    EXPECT_TRUE(inventory.cache.Dirty());
    ASSERT_TRUE(driver_fixtures::CacheKeyExists());

    EXPECT_EQ("04.10.00.2222", inventory.StampOf(paths_.versioned));
    EXPECT_EQ("", inventory.StampOf(paths_.unversioned));
    EXPECT_EQ("04.10.100.0100", inventory.StampOf(paths_.wide));   // whole when read from the file
    EXPECT_EQ("04.00.03.0950", inventory.StampOf(paths_.sixteenBit));

    // Every row has its entry, in row order, also the rows without a stamp.
    DWORD type = 0;
    const Bytes image = CacheValue(&type);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(ExpectedImage(inventory), image);
    size_t expectedLength = 0;
    for (DWORD i = 0; i < inventory.Count(); ++i) expectedLength += strlen(inventory.Row(i).fullPath) + 32;
    EXPECT_EQ(expectedLength, image.size());
    const int32_t unversioned = FindPath(image, paths_.unversioned);
    ASSERT_GE(unversioned, 0);
    EXPECT_EQ(Bytes(13, 0), Bytes(image.begin() + unversioned + paths_.unversioned.size() + 9,
                                  image.begin() + unversioned + paths_.unversioned.size() + 22));

    Bytes description;
    ASSERT_TRUE(ReadCacheValue("Description", &description, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(DescriptionAsStored(), description);
}

// The product's own calls, as they leave it: "DDB" as REG_BINARY with the whole image (it
// fits one piece), then "DDB Pieces" as REG_DWORD 1, then "Description" as REG_SZ with 137
// bytes, no terminating zero among them.
TEST_F(VersionCacheOnTheMachine, SaveWritesEveryValueWithItsExactLength) {
    g_writes.clear();
    g_realSetValue = reinterpret_cast<decltype(&RegSetValueExA)>(
        PatchImport("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(&RecordSetValue)));
    ASSERT_NE(nullptr, g_realSetValue);
    CacheRun inventory;
    DWORD hits = 0;
    Run(&inventory, &hits);
    PatchImport("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(g_realSetValue));

    ASSERT_EQ(3u, g_writes.size());
    EXPECT_EQ("DDB", g_writes[0].name);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), g_writes[0].type);
    EXPECT_EQ(CacheValue(), g_writes[0].data);
    EXPECT_EQ("DDB Pieces", g_writes[1].name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), g_writes[1].type);
    EXPECT_EQ(Bytes({1, 0, 0, 0}), g_writes[1].data);
    EXPECT_EQ("Description", g_writes[2].name);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), g_writes[2].type);
    EXPECT_EQ(137u, g_writes[2].data.size());
    EXPECT_EQ(Text(kDescription), g_writes[2].data);
}

// Load and save close every key they open or create, once; a failed open (the first run,
// without the key) opened nothing, and what it left in the out-parameter is never closed.
TEST_F(VersionCacheOnTheMachine, LoadAndSaveCloseEveryKeyTheyOpenOnce) {
    HandleLedger keys;
    CacheRun inventory;
    DWORD hits = 0;
    {
        RegistryKeyHooks hooks(keys);
        ASSERT_TRUE(hooks.Installed());
        {
            CacheRun first;   // no key yet: the open fails, the save creates it
            Run(&first, &hits);
            EXPECT_EQ(0u, hits);
        }
        EXPECT_GT(hooks.failedOpens(), 0) << "the first load found no key";
        ASSERT_TRUE(driver_fixtures::SetLastWriteTime(paths_.versioned, UtcFileTime(2004, 4, 4, 4, 4)));
        Run(&inventory, &hits);   // the key is there: opened by the load, opened again by the save
    }
    EXPECT_EQ(inventory.Count() - 1, hits);
    EXPECT_GE(keys.opens(), 3);
    EXPECT_EQ("", keys.Faults());
}

TEST_F(VersionCacheOnTheMachine, UnchangedRunTakesEveryStampFromTheCacheAndWritesNothing) {
    {
        CacheRun first;
        DWORD hits = 0;
        Run(&first, &hits);
    }
    const Bytes firstImage = CacheValue();
    // A sentinel that any save would overwrite.
    const Bytes sentinel = {'s', 'e', 'n', 't', 'i', 'n', 'e', 'l', 0};
    ASSERT_TRUE(WriteCacheValue("Description", REG_SZ, sentinel));
    // New contents under the old time: only a run that opened the file could notice.
    ASSERT_FALSE(files_
                     .Place(driver_fixtures::GetDriverDirectories().system, "BVXCACHE_A.VXD",
                            BuildVersionedPe({5, 0, 2195, 1}), time_)
                     .empty());

    CacheRun second;
    DWORD hits = 0;
    Run(&second, &hits);
    EXPECT_EQ(second.Count(), hits);
    EXPECT_FALSE(second.cache.Dirty());
    EXPECT_EQ("04.10.00.2222", second.StampOf(paths_.versioned)) << "the cached stamp, not the file's";
    EXPECT_EQ("04.10.100.010", second.StampOf(paths_.wide)) << "13 characters survive the cache";
    EXPECT_EQ("", second.StampOf(paths_.unversioned));
    EXPECT_EQ("04.00.03.0950", second.StampOf(paths_.sixteenBit));
    EXPECT_EQ(firstImage, CacheValue());
    Bytes description;
    ReadCacheValue("Description", &description);
    EXPECT_EQ(sentinel, description);

    // Now the time changes too: the file is read and its entry rewritten in place.
    const FILETIME later = UtcFileTime(2002, 2, 2, 2, 2);
    ASSERT_TRUE(driver_fixtures::SetLastWriteTime(paths_.versioned, later));
    CacheRun third;
    Run(&third, &hits);
    EXPECT_EQ(third.Count() - 1, hits);
    EXPECT_EQ("05.00.01.2195", third.StampOf(paths_.versioned));
    const Bytes thirdImage = CacheValue();
    ASSERT_EQ(firstImage.size(), thirdImage.size());
    const int32_t entry = FindPath(thirdImage, paths_.versioned);
    ASSERT_EQ(FindPath(firstImage, paths_.versioned), entry);
    const size_t fields = entry + paths_.versioned.size();
    Bytes expected = firstImage;
    const Bytes rewritten = ExpectedEntry(third.Row(third.FindRow(paths_.versioned)), "05.00.01.2195");
    std::copy(rewritten.begin(), rewritten.end(), expected.begin() + entry);
    EXPECT_EQ(expected, thirdImage);
    EXPECT_EQ(later.dwLowDateTime, ReadCacheWord(thirdImage.data() + fields + 22));
    EXPECT_EQ(later.dwHighDateTime, ReadCacheWord(thirdImage.data() + fields + 26));
    ReadCacheValue("Description", &description);
    EXPECT_EQ(DescriptionAsStored(), description);
}

TEST_F(VersionCacheOnTheMachine, PathThatLeadsAnotherStoredPathGetsAnEntryOfItsOwn) {
    // An earlier entry for the path with one more character, holding this file's own time.
    const std::string longer = paths_.versioned + "X";
    Bytes other = Text(longer);
    other.insert(other.end(), 9, 0);
    const Bytes otherStamp = Text("99.99.99.9999");
    other.insert(other.end(), otherStamp.begin(), otherStamp.end());
    PutWord(&other, time_.dwLowDateTime);
    PutWord(&other, time_.dwHighDateTime);
    other.push_back(0);
    other.push_back(0);
    ASSERT_TRUE(WriteCacheValue("DDB", REG_BINARY, other));

    CacheRun first;
    DWORD hits = 0;
    Run(&first, &hits);
    EXPECT_EQ(0u, hits);
    EXPECT_EQ("04.10.00.2222", first.StampOf(paths_.versioned));
    const Bytes image = CacheValue();
    ASSERT_GE(image.size(), other.size());
    EXPECT_EQ(other, Bytes(image.begin(), image.begin() + other.size())) << "the other entry is untouched";
    const int32_t own = FindPath(image, paths_.versioned);
    EXPECT_GE(own, static_cast<int32_t>(other.size()));

    ASSERT_TRUE(driver_fixtures::SetLastWriteTime(paths_.versioned, UtcFileTime(2003, 3, 3, 3, 3)));
    CacheRun second;
    Run(&second, &hits);
    const Bytes updated = CacheValue();
    ASSERT_EQ(image.size(), updated.size());
    EXPECT_EQ(other, Bytes(updated.begin(), updated.begin() + other.size())) << "the other entry is untouched";
    EXPECT_EQ(own, FindPath(updated, paths_.versioned));
}

// The inventory's own run performs the same steps: its construction leaves the cache value
// behind (the rows themselves are compacted away unless something marks them in use), and a
// second construction over unchanged files writes nothing.
TEST_F(VersionCacheOnTheMachine, WholeInventoryRunKeepsTheCache) {
    delete new DriverInventory(RunTiming::kNotShown);
    const Bytes image = CacheValue();
    const struct {
        const std::string* path;
        const char* stamp;
    } expected[] = {{&paths_.versioned, "04.10.00.2222"},
                    {&paths_.unversioned, ""},
                    {&paths_.wide, "04.10.100.0100"},
                    {&paths_.sixteenBit, "04.00.03.0950"}};
    for (const auto& e : expected) {
        const int32_t entry = FindPath(image, *e.path);
        ASSERT_GE(entry, 0) << *e.path;
        char field[13] = {};
        strncpy(field, e.stamp, sizeof(field));
        const uint8_t* stored = image.data() + entry + e.path->size() + 9;
        EXPECT_EQ(Bytes(field, field + 13), Bytes(stored, stored + 13)) << *e.path;
        EXPECT_EQ(time_.dwLowDateTime, ReadCacheWord(stored + 13)) << *e.path;
        EXPECT_EQ(time_.dwHighDateTime, ReadCacheWord(stored + 17)) << *e.path;
    }
    Bytes description;
    ReadCacheValue("Description", &description);
    EXPECT_EQ(DescriptionAsStored(), description);

    const Bytes sentinel = {'s', 'e', 'n', 't', 'i', 'n', 'e', 'l', 0};
    ASSERT_TRUE(WriteCacheValue("Description", REG_SZ, sentinel));
    delete new DriverInventory(RunTiming::kNotShown);
    EXPECT_EQ(image, CacheValue());
    ReadCacheValue("Description", &description);
    EXPECT_EQ(sentinel, description);
}

// Damaged values: nothing crashes, the rows behind the damage are read from their files, and
// the save leaves a value that is whole entries only, one for every row.
TEST_F(VersionCacheOnTheMachine, DamagedValuesMissAndAreReplacedByWholeEntries) {
    Bytes good;
    {
        CacheRun first;
        DWORD hits = 0;
        Run(&first, &hits);
        good = CacheValue();
    }
    Bytes truncated(good.begin(), good.end() - 5);
    Bytes garbage;
    for (int i = 0; i < 300; ++i) garbage.push_back(static_cast<uint8_t>(i * 37 + 11));
    const struct {
        const char* what;
        DWORD type;
        Bytes value;
        bool present;
    } cases[] = {
        {"no value", REG_BINARY, {}, false},
        {"zero length", REG_BINARY, {}, true},
        {"last entry cut short", REG_BINARY, truncated, true},
        {"garbage", REG_BINARY, garbage, true},
        {"oversized, no entry in it", REG_BINARY, Bytes(1 << 20, 'A'), true},
        {"zeros", REG_BINARY, Bytes(4096, 0), true},
        {"text", REG_SZ, Text("not a cache"), true},
        {"number", REG_DWORD, {1, 2, 3, 4}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        driver_fixtures::DeleteCacheKey();
        if (c.present) ASSERT_TRUE(WriteCacheValue("DDB", c.type, c.value));

        CacheRun damaged;
        DWORD hits = 0;
        Run(&damaged, &hits);
        EXPECT_EQ("04.10.00.2222", damaged.StampOf(paths_.versioned));
        EXPECT_EQ("04.10.100.0100", damaged.StampOf(paths_.wide));
        EXPECT_EQ("04.00.03.0950", damaged.StampOf(paths_.sixteenBit));

        DWORD type = 0;
        const Bytes saved = CacheValue(&type);
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
        EXPECT_EQ(saved.size(), WellFormedCacheLength(saved.data(), static_cast<uint32_t>(saved.size())));
        for (DWORD i = 0; i < damaged.Count(); ++i) EXPECT_GE(FindPath(saved, damaged.Row(i).fullPath), 0);

        CacheRun next;
        Run(&next, &hits);
        EXPECT_EQ(next.Count(), hits) << "the saved value serves every row";
    }
}

// "DDB" longer than a piece (as an earlier release writes it where values are not limited)
// is read with a second query into room of its length. Another process rewrites it between
// the two queries, making it longer still: the second query does not fit either, the value
// counts as absent and every row is read from its file.
decltype(&RegQueryValueExA) g_realQueryValue = nullptr;
Bytes g_grownValue;

LONG WINAPI QueryValueWhileItGrows(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    const LONG status = g_realQueryValue(key, name, reserved, type, data, size);
    if (status == ERROR_MORE_DATA && name && lstrcmpA(name, "DDB") == 0 && !g_grownValue.empty()) {
        WriteCacheValue("DDB", REG_BINARY, g_grownValue);
        g_grownValue.clear();
    }
    return status;
}

TEST_F(VersionCacheOnTheMachine, ValueThatGrowsBetweenTheTwoReadsCountsAsAbsent) {
    Bytes good;
    {
        CacheRun first;
        DWORD hits = 0;
        Run(&first, &hits);
        good = CacheValue();
    }
    // The rows' entries behind entries of other paths that make "DDB" longer than a piece.
    Bytes large;
    for (int i = 0; large.size() <= 16300; ++i) {
        const std::string path = "C:\\OTHER\\FILLER" + std::to_string(i) + ".VXD";
        const Bytes entry = ExpectedEntry(CacheRow(path.c_str(), 0x2F6A5C01, 0x01BEC5D1), "01.00.00.0001");
        large.insert(large.end(), entry.begin(), entry.end());
    }
    large.insert(large.end(), good.begin(), good.end());
    ASSERT_TRUE(WriteCacheValue("DDB", REG_BINARY, large));
    g_grownValue = large;
    g_grownValue.insert(g_grownValue.end(), good.begin(), good.begin() + 40);
    g_realQueryValue = reinterpret_cast<decltype(&RegQueryValueExA)>(
        PatchImport("advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&QueryValueWhileItGrows)));
    ASSERT_NE(nullptr, g_realQueryValue);
    CacheRun inventory;
    DWORD hits = 99;
    Run(&inventory, &hits);
    PatchImport("advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(g_realQueryValue));

    EXPECT_TRUE(g_grownValue.empty()) << "the value was rewritten between the reads";
    EXPECT_EQ(0u, hits);
    EXPECT_EQ("04.10.00.2222", inventory.StampOf(paths_.versioned));
    EXPECT_EQ(good, CacheValue()) << "the rows' entries, written over the grown value";

    // Without the rewrite, the long value is read whole: every row hits.
    ASSERT_TRUE(WriteCacheValue("DDB", REG_BINARY, large));
    CacheRun again;
    Run(&again, &hits);
    EXPECT_EQ(again.Count(), hits);
}

// Windows keeps no non-volatile key under a volatile one: with the cache key's parent made
// volatile, RegCreateKeyExA for the cache key fails (ERROR_CHILD_MUST_BE_VOLATILE), which is
// how these tests make the key impossible to create.
TEST_F(VersionCacheOnTheMachine, KeyThatCannotBeCreatedShowsTheBoxAndWritesNothing) {
    const LONG removed = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParentKey);
    ASSERT_TRUE(removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND) << "the parent key holds other keys";
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParentKey, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &parent, nullptr));
    RegCloseKey(parent);
    struct VolatileParent {
        ~VolatileParent() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParentKey); }
    } removeParent;
    HKEY probe = nullptr;
    SetLastError(0xDEADBEEF);
    ASSERT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, driver_fixtures::kCacheKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &probe, nullptr));

    g_box = RecordedBox();
    g_realMessageBox = reinterpret_cast<decltype(&MessageBoxA)>(
        PatchImport("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBox)));
    ASSERT_NE(nullptr, g_realMessageBox);
    CacheRun inventory;
    DWORD hits = 0;
    Run(&inventory, &hits);
    PatchImport("user32.dll", "MessageBoxA", reinterpret_cast<void*>(g_realMessageBox));

    EXPECT_EQ(1, g_box.calls);
    EXPECT_EQ(nullptr, g_box.owner);
    EXPECT_EQ("Unable to create key", g_box.text);
    EXPECT_EQ("SaveCacheToReg", g_box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK), g_box.style);
    EXPECT_FALSE(driver_fixtures::CacheKeyExists());
    EXPECT_EQ("04.10.00.2222", inventory.StampOf(paths_.versioned)) << "the run goes on with its stamps";
    std::printf("MessageBoxA without a display returned %d\n", g_box.result);
}

// The cache itself, without the registry: what it records it answers, with the row's time only.
TEST(VersionCacheInMemory, RecordedRowIsAHitWithItsTimeOnly) {
    const char kPath[] = "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\IOS.VXD";
    VersionCache cache;
    EXPECT_FALSE(cache.Dirty());
    DriverItem row = CacheRow(kPath, 0x11111111, 0x01BE0000);
    EXPECT_FALSE(cache.LookupVersionCache(row));
    lstrcpyA(row.versionStamp, "04.10.100.0100");
    memcpy(row.deviceName, "IOS     ", 9);
    cache.UpdateVersionCache(row);
    EXPECT_TRUE(cache.Dirty());
    ASSERT_EQ(strlen(kPath) + 32, cache.Length());

    DriverItem same = CacheRow(kPath, 0x11111111, 0x01BE0000);
    ASSERT_TRUE(cache.LookupVersionCache(same));
    EXPECT_STREQ("04.10.100.010", same.versionStamp) << "13 characters survive the cache";
    EXPECT_STREQ("IOS     ", same.deviceName);
    DriverItem later = CacheRow(kPath, 0x11111111, 0x01BE0001);
    EXPECT_FALSE(cache.LookupVersionCache(later));
    EXPECT_EQ('\0', later.versionStamp[0]);

    // A changed time rewrites the entry in place: the image keeps its length.
    lstrcpyA(later.versionStamp, "05.00.01.2195");
    cache.UpdateVersionCache(later);
    EXPECT_EQ(strlen(kPath) + 32, cache.Length());
    DriverItem again = CacheRow(kPath, 0x11111111, 0x01BE0001);
    ASSERT_TRUE(cache.LookupVersionCache(again));
    EXPECT_STREQ("05.00.01.2195", again.versionStamp);
}

TEST(VersionCacheInMemory, AdoptedImageKeepsItsLeadingWholeEntries) {
    VersionCache source;
    // Times as the platform gives them (a time of a few ticks could pass for the zero bytes
    // that end an entry).
    DriverItem first = CacheRow("C:\\WINDOWS\\SYSTEM\\A.VXD", 0x2F6A5C01, 0x01BEC5D1);
    DriverItem second = CacheRow("C:\\WINDOWS\\SYSTEM\\B.VXD", 0x2F6A5C02, 0x01BEC5D2);
    lstrcpyA(first.versionStamp, "01.00.00.0001");
    lstrcpyA(second.versionStamp, "02.00.00.0002");
    source.UpdateVersionCache(first);
    source.UpdateVersionCache(second);
    const DWORD cut = source.Length() - 5;   // the second entry cut short

    VersionCache cache;
    BYTE* room = cache.PieceRoom(cut);
    ASSERT_NE(nullptr, room);
    memcpy(room, source.Image(), cut);
    cache.AdoptPiece(cut);
    EXPECT_TRUE(cache.Dirty());   // the dropped bytes make it due to be written back whole
    EXPECT_EQ(strlen(first.fullPath) + 32, cache.Length());
    DriverItem a = CacheRow(first.fullPath, first.lastWriteLow, first.lastWriteHigh);
    DriverItem b = CacheRow(second.fullPath, second.lastWriteLow, second.lastWriteHigh);
    EXPECT_TRUE(cache.LookupVersionCache(a));
    EXPECT_STREQ("01.00.00.0001", a.versionStamp);
    EXPECT_FALSE(cache.LookupVersionCache(b));
}

}   // namespace
