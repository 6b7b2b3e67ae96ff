// A driver file that another program changes while the inventory runs: the directory search
// gives the file's time, and its version is read a little later. Whatever lands in between, the
// version cache entry the run records holds a stamp and a time that the file had together; and
// a file that another program has open for writing when its version is read is read again by
// the next run, not remembered as one without a version. The file sits alone in its directory,
// or among more driver files than a run times by short opens after their reads (it then
// searches the directory again); the others must be listed and recorded as ever. Also under the
// sharing rules of Windows 95/98, where the version functions are refused while any other
// handle holds the file.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "cache_image_walk.h"
#include "compatibility_mode_version_reads.h"
#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_inventory.h"
#include "driver_machine.h"
#include "file_aside.h"
#include "import_patch.h"
#include "row_stamps.h"
#include "stored_cache_check.h"

namespace {

using Bytes = std::vector<uint8_t>;
using driver_fixtures::BuildVersionedPe;
using driver_fixtures::UtcFileTime;

const char kName[] = "BVXCHANGE.VXD";
const char kStampBefore[] = "04.10.00.1111";
const char kStampAfter[] = "04.20.00.2222";

// The product reads a version with GetFileVersionInfoSizeA first; this runs a change of the file
// just before that call for the file, for the next g_changesLeft reads.
decltype(&GetFileVersionInfoSizeA) g_realInfoSize = nullptr;
std::string g_changedPath;
std::function<void()> g_change;
int g_changesLeft = 0;

DWORD WINAPI InfoSizeAfterChange(LPCSTR path, LPDWORD handle) {
    if (g_changesLeft > 0 && lstrcmpiA(path, g_changedPath.c_str()) == 0) {
        --g_changesLeft;
        g_change();
    }
    return g_realInfoSize(path, handle);
}

struct Entry {
    bool found;
    std::string stamp;   // up to 13 characters
    FILETIME time;
};

// The entry of `path` in the stored cache (the first, as a run takes it).
Entry CachedEntry(const std::string& path) {
    std::vector<StoredCacheEntry> entries;
    if (ReadStoredCache(&entries)) {
        for (const StoredCacheEntry& stored : entries) {
            if (stored.path == path) return {true, stored.stamp, stored.lastWrite};
        }
    }
    return {false, "", {}};
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The parameter: how many other driver files share the file's directory ("IoSubSys", emptied of
// what the machine keeps there for the test).
class FileChangeDuringRead : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        driver_fixtures::DeleteCacheKey();
        aside_.Take(directory_);
        for (const auto& listed : driver_fixtures::ListDriverFiles()) {
            ASSERT_NE(0, lstrcmpiA(listed.directory.c_str(), directory_.c_str()))
                << "IoSubSys still holds " << listed.name;
        }
        for (DWORD other = 0; other < GetParam(); ++other) {
            const driver_fixtures::FileVersion version = {4, 10, 5, static_cast<uint16_t>(3000 + other)};
            const std::string name = "BVXOTHER" + std::to_string(other) + ".SYS";
            ASSERT_FALSE(files_.Place(directory_, name, BuildVersionedPe(version), timeBefore_).empty());
            others_.emplace_back(directory_ + "\\" + name, "04.10.05." + std::to_string(3000 + other));
        }
        path_ = files_.Place(directory_, kName, before_, timeBefore_);
        ASSERT_FALSE(path_.empty());
        g_realInfoSize = reinterpret_cast<decltype(&GetFileVersionInfoSizeA)>(patch_.previous());
        ASSERT_TRUE(g_realInfoSize);
        g_changedPath = path_;
    }
    void TearDown() override {
        g_changesLeft = 0;
        g_change = nullptr;
    }

    // The other files, untouched, are recorded with their own stamps and time.
    void ExpectOthersRecorded() {
        for (const auto& other : others_) {
            const Entry entry = CachedEntry(other.first);
            EXPECT_TRUE(entry.found && entry.stamp == other.second && SameTime(timeBefore_, entry.time))
                << other.first << " is not recorded with " << other.second;
        }
    }

    // A file written whole beside the driver file, then moved over it in one step.
    bool Replace() {
        const std::string beside = path_ + ".new";
        driver_fixtures::PlacedFiles temporary;
        if (temporary.Place(directory_, std::string(kName) + ".new", after_, timeAfter_) != beside) {
            return false;
        }
        return MoveFileExA(beside.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    // Only the time, through a handle that asks for nothing but the attributes.
    bool Touch(const FILETIME& time) {
        HANDLE file =
            CreateFileA(path_.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool done = SetFileTime(file, nullptr, nullptr, &time) != FALSE;
        CloseHandle(file);
        return done;
    }

    driver_fixtures::CacheKeyBackup backup_;   // declared first: restored last
    const std::string directory_ = driver_fixtures::GetDriverDirectories().ioSubSys;
    DirectoryAside aside_;   // declared before the files placed there
    driver_fixtures::PlacedFiles files_;
    std::vector<std::pair<std::string, std::string>> others_;   // path, stamp
    ScopedImportPatch patch_{"version.dll", "GetFileVersionInfoSizeA", reinterpret_cast<void*>(&InfoSizeAfterChange)};
    const Bytes before_ = BuildVersionedPe({4, 10, 0, 1111});
    const Bytes after_ = BuildVersionedPe({4, 20, 0, 2222}, 64);
    const FILETIME timeBefore_ = UtcFileTime(1998, 5, 11, 10, 0);
    const FILETIME timeAfter_ = UtcFileTime(2001, 8, 24, 12, 0);
    std::string path_;
};

// A change between the search and the read: replaced by another version, given another time,
// deleted. The platform may refuse the change while the file is being read; either way the
// entry recorded is true to the file.
TEST_P(FileChangeDuringRead, EntryRecordedHoldsAStampAndTimeTheFileHadTogether) {
    struct Case {
        const char* change;
        std::function<bool()> make;
        // The (stamp, time) pairs the file had: the stamp of the content and the time it had with it.
        std::vector<std::pair<const char*, FILETIME>> had;
    };
    const Case cases[] = {
        {"replaced", [this] { return Replace(); }, {{kStampBefore, timeBefore_}, {kStampAfter, timeAfter_}}},
        {"touched", [this] { return Touch(timeAfter_); }, {{kStampBefore, timeBefore_}, {kStampBefore, timeAfter_}}},
        {"deleted", [this] { return DeleteFileA(path_.c_str()) != FALSE; }, {{kStampBefore, timeBefore_}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        driver_fixtures::DeleteCacheKey();
        ASSERT_EQ(path_, files_.Place(directory_, kName, before_, timeBefore_));
        bool made = false;
        g_change = [&] { made = c.make(); };
        g_changesLeft = 1;
        { DriverInventory inventory(RunTiming::kNotShown); }
        EXPECT_EQ(0, g_changesLeft) << "the file's version was never read";
        ExpectOthersRecorded();
        EXPECT_TRUE(StoredCacheIsWhole());
        const Entry entry = CachedEntry(path_);
        if (!entry.found) continue;   // nothing recorded: the next run reads the file
        bool had = false;
        for (const auto& pair : c.had) had = had || (entry.stamp == pair.first && SameTime(entry.time, pair.second));
        EXPECT_TRUE(had) << "recorded \"" << entry.stamp << "\" for a time the file had "
                         << (made ? "before or after the change" : "(the change was refused)") << " with another stamp";
    }
}

// A copying program has written the file whole and set its time, and not yet closed it. Whether
// the platform lets the version be read then depends on how it opens the file (Windows 95/98
// deny writers when they read a version, Wine does not); if the run cannot read it, it must not
// remember the file as one without a version.
TEST_P(FileChangeDuringRead, FileOpenForWritingIsReadAgainByTheNextRun) {
    HANDLE writer = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    { DriverInventory whileOpen(RunTiming::kNotShown); }
    CloseHandle(writer);
    { DriverInventory afterwards(RunTiming::kNotShown); }
    const Entry entry = CachedEntry(path_);
    ASSERT_TRUE(entry.found);
    EXPECT_EQ(kStampBefore, entry.stamp);
    EXPECT_TRUE(SameTime(timeBefore_, entry.time));
    ExpectOthersRecorded();
}

// The time changes while the version is read, once or during every read. The run reads the file
// again until a read finds the same time before and after it; then it lists the file with that
// time's date and records it. A file whose time changed during every read is not listed by that
// run, nor recorded: nothing tells which of its states the stamp read belongs to. The next run
// reads it again.
TEST_P(FileChangeDuringRead, TimeChangedDuringTheReadIsReadAgain) {
    device_tree_fixture::DeviceTree tree;
    tree.AddChain("0000", "0000");
    tree.SetClassValue("0000", "DeviceVxDs", kName);
    struct Case {
        int changes;          // during that many reads
        const char* listed;   // the date listed, or nullptr when the file is not listed
    };
    const Case cases[] = {{1, "2001/08/24"}, {kFileStampReadAttempts, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.changes) + " reads met a change");
        driver_fixtures::DeleteCacheKey();
        ASSERT_EQ(path_, files_.Place(directory_, kName, before_, timeBefore_));
        // Each change gives the file a time of its own, a minute after the one before.
        ULARGE_INTEGER next = {{timeAfter_.dwLowDateTime, timeAfter_.dwHighDateTime}};
        FILETIME given = {};
        bool touched = true;
        g_change = [&] {
            given = {next.LowPart, next.HighPart};
            touched = Touch(given) && touched;
            next.QuadPart += 60ull * 10000000ull;
        };
        g_changesLeft = c.changes;
        std::string listedDate;
        {
            DriverInventory inventory(RunTiming::kNotShown);
            ASSERT_EQ(0, g_changesLeft);
            ASSERT_TRUE(touched);
            for (DWORD index = 1; index <= inventory.GetItemCount(); ++index) {
                char name[512], stamp[128], date[64];
                if (!inventory.GetItemNameAndStamp(name, stamp, index) || lstrcmpiA(name, kName) != 0) continue;
                EXPECT_STREQ(kStampBefore, stamp);
                ASSERT_TRUE(inventory.GetItemDate(date, index));
                listedDate = date;
            }
        }
        ExpectOthersRecorded();
        const Entry recorded = CachedEntry(path_);
        if (c.listed) {
            EXPECT_EQ(c.listed, listedDate);
            ASSERT_TRUE(recorded.found);
            EXPECT_EQ(kStampBefore, recorded.stamp);
            EXPECT_TRUE(SameTime(given, recorded.time));
            continue;
        }
        EXPECT_EQ("", listedDate) << "listed with a stamp of a state it may not have had";
        EXPECT_FALSE(recorded.found);
        { DriverInventory again(RunTiming::kNotShown); }
        const Entry entry = CachedEntry(path_);
        ASSERT_TRUE(entry.found) << "the next run did not read the file again";
        EXPECT_EQ(kStampBefore, entry.stamp);
        EXPECT_TRUE(SameTime(given, entry.time));
    }
}

INSTANTIATE_TEST_SUITE_P(OthersInTheDirectory, FileChangeDuringRead,
                         ::testing::Values(0, kRowsWorthADirectorySearch + 1),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                             return info.param == 0 ? std::string("Alone") : "Among" + std::to_string(info.param);
                         });

// The same file with the Windows 95/98 sharing rules in force, and named in the device tree so
// that a run lists it whenever it has its stamp.
class VersionReadsInCompatibilityMode : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rule_.InForce());
        driver_fixtures::DeleteCacheKey();
        path_ = files_.Place(driver_fixtures::GetDriverDirectories().system, kName, before_, timeBefore_);
        ASSERT_FALSE(path_.empty());
        tree_.AddChain("0000", "0000");
        tree_.SetClassValue("0000", "DeviceVxDs", kName);
    }

    // The stamp a whole run lists for the file, or "" when the run does not list it.
    std::string Listed() {
        DriverInventory inventory(RunTiming::kNotShown);
        for (DWORD index = 1; index <= inventory.GetItemCount(); ++index) {
            char name[512], stamp[128];
            if (inventory.GetItemNameAndStamp(name, stamp, index) && lstrcmpiA(name, kName) == 0) return stamp;
        }
        return "";
    }

    driver_fixtures::CacheKeyBackup backup_;   // declared first: restored last
    CompatibilityModeVersionReads rule_;
    device_tree_fixture::DeviceTree tree_;
    driver_fixtures::PlacedFiles files_;
    const Bytes before_ = BuildVersionedPe({4, 10, 0, 1111});
    const FILETIME timeBefore_ = UtcFileTime(1998, 5, 11, 10, 0);
    std::string path_;
};

// Nobody else has the file open: the run holds nothing of its own while the platform reads the
// version, so the read goes through, the file is listed and its stamp recorded.
TEST_F(VersionReadsInCompatibilityMode, InUseFileIsListedAndRecorded) {
    EXPECT_EQ(kStampBefore, Listed());
    EXPECT_EQ(0, rule_.Refusals());
    const Entry entry = CachedEntry(path_);
    ASSERT_TRUE(entry.found);
    EXPECT_EQ(kStampBefore, entry.stamp);
    EXPECT_TRUE(SameTime(timeBefore_, entry.time));
    EXPECT_EQ(kStampBefore, Listed()) << "from the cache";
}

// Another program has the file open for writing, sharing it or not: the run cannot read the
// version, so it does not list the file and records nothing; the first run after the writer
// closes lists it.
TEST_F(VersionReadsInCompatibilityMode, FileOpenForWritingIsListedByTheFirstRunAfterTheWriterCloses) {
    const struct {
        const char* writer;
        DWORD share;
    } cases[] = {
        {"writer sharing reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"writer sharing reading", FILE_SHARE_READ},
        {"writer sharing nothing", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writer);
        driver_fixtures::DeleteCacheKey();
        HANDLE writer = CreateFileA(path_.c_str(), GENERIC_WRITE, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, writer);
        EXPECT_EQ("", Listed()) << "listed while another program writes it";
        EXPECT_FALSE(CachedEntry(path_).found) << "recorded while another program writes it";
        CloseHandle(writer);
        EXPECT_EQ(kStampBefore, Listed());
        const Entry entry = CachedEntry(path_);
        ASSERT_TRUE(entry.found);
        EXPECT_EQ(kStampBefore, entry.stamp);
        EXPECT_TRUE(SameTime(timeBefore_, entry.time));
    }
}

}   // namespace
