// The driver file scan on the prefix's real driver directories: the system directory (which
// also holds the platform's own driver files), "System32\Drivers" under the Windows directory
// and "IoSubSys" under the system directory. Rows are checked against an independent listing
// of the same directories and patterns, and the test's own files by their unique names. The
// scan runs from a current directory of the test's own, which must stay current throughout.
#include <gtest/gtest.h>

#include <ctype.h>

#include <string>
#include <vector>

#include "callers_directory.h"
#include "driver_extensions.h"
#include "driver_file_image.h"
#include "driver_machine.h"
#include "driver_file_scan.h"
#include "import_patch.h"

namespace {

using driver_fixtures::BuildVersionedPe;
using driver_fixtures::GetDriverDirectories;
using driver_fixtures::ListDriverFiles;
using driver_fixtures::ListedFile;
using driver_fixtures::PlacedFiles;
using driver_fixtures::UtcFileTime;

bool DirectoryExists(const std::string& directory) {
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every row equals the listing's entry at the same place: name, full path, time.
void ExpectRowsAsListed(const DriverTable& table, const std::vector<ListedFile>& listing, size_t count) {
    ASSERT_EQ(count, table.Count());
    for (DWORD i = 0; i < table.Count(); ++i) {
        const DriverItem& row = table.Row(i);
        EXPECT_EQ(listing[i].name, row.fileName) << "row " << i;
        EXPECT_EQ(listing[i].directory + "\\" + listing[i].name, row.fullPath) << "row " << i;
        EXPECT_EQ(listing[i].lastWrite.dwLowDateTime, row.lastWriteLow) << "row " << i;
        EXPECT_EQ(listing[i].lastWrite.dwHighDateTime, row.lastWriteHigh) << "row " << i;
        EXPECT_EQ('\0', row.versionStamp[0]) << "the scan reads no stamp";
    }
}

// The first row with this full path (compared without regard to case), or kNoRow.
DWORD FindRow(const DriverTable& table, const std::string& path) {
    for (DWORD i = 0; i < table.Count(); ++i) {
        if (lstrcmpiA(table.Row(i).fullPath, path.c_str()) == 0) return i;
    }
    return DriverTable::kNoRow;
}

// Files of an earlier run of these tests that was stopped before it could clean up (all their
// names start with "BVX"), and "IoSubSys" when nothing else is left in it.
void RemoveLeftovers(const driver_fixtures::DriverDirectories& directories) {
    for (const std::string& directory : directories.InScanOrder()) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((directory + "\\BVX*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            const std::string path = directory + "\\" + found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(path.c_str());
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directories.ioSubSys.c_str());   // fails while others' files are in it
}

class DriverFileScan : public ::testing::Test {
protected:
    void SetUp() override {
        directories_ = GetDriverDirectories();
        RemoveLeftovers(directories_);
        ASSERT_FALSE(caller_.Path().empty());
    }

    driver_fixtures::DriverDirectories directories_;
    PlacedFiles files_;
    CallersDirectory caller_;
};

TEST_F(DriverFileScan, RowsInDirectoryPatternAndSearchOrder) {
    const FILETIME evening = UtcFileTime(1999, 7, 4, 23, 30);
    const FILETIME other = UtcFileTime(2001, 12, 31, 0, 0, 5);
    const std::vector<uint8_t> image = BuildVersionedPe({4, 10, 0, 2222});
    struct Placed {
        std::string directory, name, upper;
        FILETIME time;
    } placed[] = {
        {directories_.system, "bvxscan_pdr.pdr", "BVXSCAN_PDR.PDR", other},
        {directories_.system, "BvxScan_Drv.Drv", "BVXSCAN_DRV.DRV", other},
        {directories_.system, "bvxscan_a.vxd", "BVXSCAN_A.VXD", evening},
        {directories_.system, "BVXDUP.SYS", "BVXDUP.SYS", other},
        {directories_.drivers, "BVXDUP.SYS", "BVXDUP.SYS", evening},
        {directories_.ioSubSys, "bvxscan_w.wdm", "BVXSCAN_W.WDM", other},
        {directories_.ioSubSys, "BVXSCAN_3.386", "BVXSCAN_3.386", other},
    };
    for (const Placed& p : placed) ASSERT_FALSE(files_.Place(p.directory, p.name, image, p.time).empty()) << p.name;
    ASSERT_FALSE(files_.Place(directories_.ioSubSys, "BVXSCAN_NOT.DLL", image, other).empty());
    // A directory whose name matches a pattern is taken like a file.
    const std::string subdirectory = directories_.ioSubSys + "\\BVXSCAN_DIR.VXD";
    ASSERT_TRUE(files_.EnsureDirectory(subdirectory));

    const std::vector<ListedFile> listing = ListDriverFiles();
    DriverTable table;
    ScanDriverFiles(table);
    ExpectRowsAsListed(table, listing, listing.size());

    // The test's own rows: upper-case names, the directory text as the platform gives it.
    std::vector<std::string> own;
    for (DWORD i = 0; i < table.Count(); ++i) {
        const std::string name = table.Row(i).fileName;
        if (name.compare(0, 3, "BVX") == 0) own.push_back(table.Row(i).fullPath);
    }
    const std::vector<std::string> expected = {
        directories_.system + "\\BVXSCAN_A.VXD",   directories_.system + "\\BVXSCAN_DRV.DRV",
        directories_.system + "\\BVXDUP.SYS",      directories_.system + "\\BVXSCAN_PDR.PDR",
        directories_.drivers + "\\BVXDUP.SYS",     directories_.ioSubSys + "\\BVXSCAN_DIR.VXD",
        directories_.ioSubSys + "\\BVXSCAN_3.386", directories_.ioSubSys + "\\BVXSCAN_W.WDM",
    };
    EXPECT_EQ(expected, own);
    EXPECT_NE(std::string::npos, directories_.drivers.find("\\System32\\Drivers"));

    // The time is the file's UTC last-write time (its date text, that of the UTC day, is
    // driver_inventory_test's).
    const DWORD row = FindRow(table, directories_.system + "\\BVXSCAN_A.VXD");
    ASSERT_NE(DriverTable::kNoRow, row);
    EXPECT_EQ(evening.dwLowDateTime, table.Row(row).lastWriteLow);
    EXPECT_EQ(evening.dwHighDateTime, table.Row(row).lastWriteHigh);

    // The caller's current directory is untouched: its relative paths resolve where they did.
    EXPECT_TRUE(caller_.IsCurrent());
    EXPECT_TRUE(caller_.RelativeFileLandsHere("bvxscan_relative.txt"));
}

// Every driver extension is searched, in the order kDriverExtensions gives, whatever the case
// of the file's name: the scan's patterns and the files a machine lays out come from one list.
TEST_F(DriverFileScan, EveryDriverExtensionIsSearchedInItsOrder) {
    const FILETIME time = UtcFileTime(2002, 3, 4, 5, 6);
    std::vector<std::string> expected;
    for (int i = kDriverExtensionCount - 1; i >= 0; --i) {
        std::string lower = kDriverExtensions[i];
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        ASSERT_FALSE(files_.Place(directories_.ioSubSys, "bvxext" + std::to_string(i) + lower, {}, time).empty());
    }
    for (int i = 0; i < kDriverExtensionCount; ++i) {
        expected.push_back(directories_.ioSubSys + "\\BVXEXT" + std::to_string(i) + kDriverExtensions[i]);
    }
    DriverTable table;
    ScanDriverFiles(table);
    std::vector<std::string> own;
    for (DWORD i = 0; i < table.Count(); ++i) {
        if (std::string(table.Row(i).fileName).compare(0, 6, "BVXEXT") == 0) own.push_back(table.Row(i).fullPath);
    }
    EXPECT_EQ(expected, own);
}

TEST_F(DriverFileScan, MissingDirectoryContributesNothing) {
    if (DirectoryExists(directories_.ioSubSys)) GTEST_SKIP() << directories_.ioSubSys << " holds files of others";
    const std::vector<ListedFile> listing = ListDriverFiles();
    DriverTable table;
    ScanDriverFiles(table);
    ExpectRowsAsListed(table, listing, listing.size());
    for (DWORD i = 0; i < table.Count(); ++i) {
        EXPECT_EQ(std::string::npos, std::string(table.Row(i).fullPath).find("IoSubSys"));
    }
    EXPECT_TRUE(caller_.IsCurrent());
}

// The current directory is process-wide: another thread of the caller that resolves a relative
// path while the scan runs must find the caller's directory too. Every directory search of the
// scan looks at it.
std::vector<std::string> g_currentDuringSearches;
decltype(&FindFirstFileA) g_realFindFirstFile = nullptr;

HANDLE WINAPI SearchSeeingTheCurrentDirectory(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    g_currentDuringSearches.push_back(CallersDirectory::Current());
    return g_realFindFirstFile(pattern, found);
}

TEST_F(DriverFileScan, CurrentDirectoryStaysTheCallersWhileTheScanRuns) {
    ASSERT_TRUE(files_.EnsureDirectory(directories_.ioSubSys));
    g_currentDuringSearches.clear();
    DriverTable table;
    {
        ScopedImportPatch search("kernel32.dll", "FindFirstFileA",
                                 reinterpret_cast<void*>(&SearchSeeingTheCurrentDirectory));
        g_realFindFirstFile = reinterpret_cast<decltype(&FindFirstFileA)>(search.previous());
        ASSERT_NE(nullptr, g_realFindFirstFile);
        ScanDriverFiles(table);
    }
    EXPECT_GT(table.Count(), 0u);
    ASSERT_FALSE(g_currentDuringSearches.empty());
    for (const std::string& current : g_currentDuringSearches) {
        EXPECT_EQ(0, lstrcmpiA(caller_.Path().c_str(), current.c_str())) << current;
    }
    EXPECT_TRUE(caller_.IsCurrent());
}

TEST_F(DriverFileScan, The1024thFileIsNotAdded) {
    const size_t present = ListDriverFiles().size();
    ASSERT_LT(present, 1023u);
    const FILETIME time = UtcFileTime(2000, 1, 1, 0, 0);
    for (size_t i = 0; present + i < 1025; ++i) {
        ASSERT_FALSE(files_.Place(directories_.ioSubSys, "BVXFILL" + std::to_string(i) + ".VXD", {}, time).empty());
    }
    const std::vector<ListedFile> listing = ListDriverFiles();
    ASSERT_EQ(1025u, listing.size());
    DriverTable table;
    ScanDriverFiles(table);
    ExpectRowsAsListed(table, listing, 1023);
}

}   // namespace
