// Creating a Drivers object of Brantovix.dll while each registry write, file write and
// allocation it makes fails in turn (failing_imports.h): the first, then the second, and so on,
// until a creation goes through without a failure to inject; and again with the failure lasting,
// from that call on every call of its kind failing. The object is created with the full list, as
// a normal creation gives it, or refused with E_OUTOFMEMORY when memory ran out (never created
// with a list short of a row); the stored cache is whole (stored_cache_check.h), and a failed
// write loses none of its entries; the driver file is absent or whole; no temporary file stays;
// every key and file opened is closed once; and the next normal creation gives the full list.
// Then a registry that cannot grow and a disk without room for the driver file.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "brantovix_idl.h"
#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_machine.h"
#include "failing_imports.h"
#include "stored_cache_check.h"

namespace {

struct Row {
    std::string name, stamp, date;
    bool operator==(const Row& other) const { return name == other.name && stamp == other.stamp && date == other.date; }
};

std::string Narrow(BSTR text) {
    if (!text) return "<null>";
    std::string narrow;
    for (UINT i = 0; i < SysStringLen(text); ++i) narrow += static_cast<char>(text[i]);
    SysFreeString(text);
    return narrow;
}

std::vector<std::pair<std::string, std::string>> ReadList(IOrvService* object) {
    std::vector<std::pair<std::string, std::string>> list;
    long size = 0;
    object->GetDataListSize(&size);
    for (long i = 0; i < size; ++i) {
        BSTR name = nullptr, value = nullptr;
        object->GetDataListName(i, &name);
        object->GetDataListValueByIndex(i, &value);
        list.emplace_back(Narrow(name), Narrow(value));
    }
    return list;
}

// The rows a list describes: the first row's name element first and its date element last, the
// other rows' date and name elements in reverse order between. False when the list is not made
// of whole rows in that shape.
bool RowsOfList(const std::vector<std::pair<std::string, std::string>>& list, std::vector<Row>* rows) {
    rows->clear();
    if (list.empty()) return true;
    if (list.size() % 2 != 0) return false;
    const auto& first = list.front();
    const auto& firstDate = list.back();
    if (firstDate.first != "DATE-" + first.first) return false;
    std::vector<Row> later;
    for (size_t i = 1; i + 1 < list.size(); i += 2) {
        const auto& date = list[i];
        const auto& name = list[i + 1];
        if (date.first != "DATE-" + name.first) return false;
        later.push_back({name.first, name.second, date.second});
    }
    rows->push_back({first.first, first.second, firstDate.second});
    rows->insert(rows->end(), later.rbegin(), later.rend());
    for (const Row& row : *rows) {
        if (row.name.empty() || row.name.find("<null>") != std::string::npos || row.stamp == "<null>" ||
            row.date == "<null>") {
            return false;
        }
    }
    return true;
}

bool IsSubsequence(const std::vector<Row>& part, const std::vector<Row>& whole) {
    size_t next = 0;
    for (const Row& row : whole) {
        if (next < part.size() && part[next] == row) ++next;
    }
    return next == part.size();
}

std::string Describe(const std::vector<std::pair<std::string, std::string>>& list) {
    std::string text;
    for (const auto& element : list) text += element.first + "=" + element.second + "; ";
    return text;
}

std::string Describe(const std::vector<Row>& rows) {
    std::string text;
    for (const Row& row : rows) text += row.name + " " + row.stamp + " " + row.date + "; ";
    return text;
}

void RestoreCacheValues(const driver_fixtures::CacheValueMap& values) {
    driver_fixtures::DeleteCacheKey();
    for (const auto& value : values) {
        ASSERT_TRUE(driver_fixtures::WriteCacheValue(value.first.c_str(), value.second.first, value.second.second));
    }
}

// The paths of the entries stored in the cache's pieces.
std::vector<std::string> CachedPaths() {
    std::vector<StoredCacheEntry> entries;
    std::vector<std::string> paths;
    if (!ReadStoredCache(&entries)) return paths;
    for (const StoredCacheEntry& entry : entries) paths.push_back(entry.path);
    return paths;
}

// A file the fixture places, as the list must describe it.
struct OwnFile {
    std::string path;
    Row row;
    FILETIME lastWrite;
};

// What one creation gave.
struct Creation {
    HRESULT result = E_UNEXPECTED;
    bool object = false;
    std::vector<std::pair<std::string, std::string>> list;
};

class CreationUnderFailingCalls : public FailingCallsTest, public ::testing::WithParamInterface<CallKind> {
protected:
    void SetUp() override {
        FailingCallsTest::SetUp();
        if (HasFatalFailure()) return;
        void* out = nullptr;
        ASSERT_EQ(S_OK, server_.getClassObject(CLSID_Drivers, IID_IClassFactory, &out));
        factory_ = static_cast<IClassFactory*>(out);

        systemDirectory_ = driver_fixtures::GetDriverDirectories().system;
        driverFile_ = DeployedDriverPath();
        HRSRC resource = FindResourceA(server_.module, MAKEINTRESOURCEA(201), "DRIVER");
        ASSERT_NE(nullptr, resource) << "the DLL carries its enumerator driver";
        const char* image = static_cast<const char*>(LockResource(LoadResource(server_.module, resource)));
        driverImage_.assign(image, SizeofResource(server_.module, resource));

        // The machine's own driver files go into the cache first; the image this leaves is where
        // every faulted run starts, so that each one reads the fixture's files and saves.
        Create();
        startingCache_ = driver_fixtures::ReadCacheValues();

        const std::string tag = "F" + std::to_string(GetCurrentProcessId() % 100000);
        const struct {
            std::string name;
            driver_fixtures::FileVersion version;
            FILETIME lastWrite;
            const char* stamp;
            const char* date;
        } placed[] = {
            {tag + "A.VXD",
             {4, 10, 0, 2222},
             driver_fixtures::UtcFileTime(1999, 4, 23, 22, 22),
             "04.10.00.2222",
             "1999/04/23"},
            {tag + "B.DRV",
             {5, 0, 2195, 1},
             driver_fixtures::UtcFileTime(2000, 2, 17, 8, 0),
             "05.00.01.2195",
             "2000/02/17"},
            {tag + "C.SYS",
             {4, 10, 0, 1998},
             driver_fixtures::UtcFileTime(1998, 5, 11, 0, 0),
             "04.10.00.1998",
             "1998/05/11"},
        };
        std::string list;
        for (const auto& p : placed) {
            const std::string path =
                files_.Place(systemDirectory_, p.name, driver_fixtures::BuildVersionedPe(p.version), p.lastWrite);
            ASSERT_NE("", path) << p.name;
            own_.push_back({path, {p.name, p.stamp, p.date}, p.lastWrite});
            list += (list.empty() ? "" : ",") + p.name;
        }
        tree_.AddChain("FAULTS", "FAULTS");
        tree_.SetClassValue("FAULTS", "DeviceVxDs", list);
        if (HasFatalFailure()) return;

        // The full list: the machine's rows and the fixture's, in scan order.
        RestoreCacheValues(startingCache_);
        const Creation normal = Create();
        ASSERT_EQ(S_OK, normal.result);
        std::vector<Row> fullRows;
        ASSERT_TRUE(RowsOfList(normal.list, &fullRows));
        std::vector<Row> ownRows;
        for (const OwnFile& file : own_) ownRows.push_back(file.row);
        ASSERT_TRUE(IsSubsequence(ownRows, fullRows)) << Describe(fullRows);
        ASSERT_TRUE(EveryHandleClosedOnce());
        ASSERT_TRUE(StoredCacheIsWhole());
        fullList_ = normal.list;
    }
    void TearDown() override {
        if (factory_) factory_->Release();
        FailingCallsTest::TearDown();
    }

public:
    // A creation with nothing made to fail (no call is number 0).
    Creation Create() { return CreateArmed(CallKind::kRegistryWrite, 0, false); }
    Creation CreateArmed(CallKind kind, int failAt, bool lasting) {
        Creation creation;
        RunArmed(
            kind, failAt,
            [&] {
                void* out = nullptr;
                creation.result = factory_->CreateInstance(nullptr, IID_IOrvService, &out);
                creation.object = out != nullptr;
                DisarmFault();
                if (out) {
                    IOrvService* object = static_cast<IOrvService*>(out);
                    creation.list = ReadList(object);
                    object->Release();
                }
            },
            lasting);
        return creation;
    }

    void RestoreStartingCache() { RestoreCacheValues(startingCache_); }
    void RemoveDriverFile() {
        DeleteFileA(driverFile_.c_str());
        ASSERT_FALSE(FileExists(driverFile_));
    }
    std::set<std::string> SystemDirectoryNames() const { return DirectoryNames(systemDirectory_, true); }
    const std::vector<std::pair<std::string, std::string>>& FullList() const { return fullList_; }
    // The driver file whole or absent, and no other file added to the system directory since
    // `namesBefore` (no temporary copy left).
    void ExpectDriverFileWholeOrAbsent(const std::set<std::string>& namesBefore) const {
        if (FileExists(driverFile_)) EXPECT_TRUE(ReadFileBytes(driverFile_) == driverImage_) << "a partial driver file";
        for (const std::string& name : DirectoryNames(systemDirectory_, true)) {
            if (!namesBefore.count(name)) EXPECT_EQ("ORV_DE.VXD", name) << "left behind";
        }
    }

protected:
    IClassFactory* factory_ = nullptr;
    driver_fixtures::CacheKeyBackup cacheBackup_;
    driver_fixtures::PlacedFiles files_;
    device_tree_fixture::DeviceTree tree_;
    std::string systemDirectory_, driverFile_, driverImage_;
    driver_fixtures::CacheValueMap startingCache_;
    std::vector<OwnFile> own_;
    std::vector<std::pair<std::string, std::string>> fullList_;
};

// Runs creations with call 1, 2, ... of `kind` made to fail (with `lasting`, that call and every
// later one of its kind), until one makes no call of the kind that could fail, and checks each.
void SweepCreations(CreationUnderFailingCalls& test, CallKind kind, bool lasting) {
    test.RestoreStartingCache();
    const std::vector<std::string> startingPaths = CachedPaths();
    ASSERT_FALSE(startingPaths.empty()) << "the machine's own files are in the starting cache";
    int refused = 0;
    int failAt = 1;
    for (;; ++failAt) {
        ASSERT_LT(failAt, kMostFaultPoints);
        SCOPED_TRACE(std::string(KindName(kind)) + (lasting ? ", from call " : ", call ") + std::to_string(failAt));
        test.RestoreStartingCache();
        test.RemoveDriverFile();
        const std::set<std::string> namesBefore = test.SystemDirectoryNames();

        const Creation faulted = test.CreateArmed(kind, failAt, lasting);
        const std::string failed = FailedCall();
        SCOPED_TRACE("failed: " + (failed.empty() ? std::string("nothing") : failed) + ", " +
                     std::to_string(FailedCalls()) + " calls failed");

        // Created with the full list, or refused for want of memory. (A failed write changes
        // what is stored, not what the machine has.)
        if (faulted.result == E_OUTOFMEMORY && kind == CallKind::kAllocation && !failed.empty()) {
            EXPECT_FALSE(faulted.object);
            ++refused;
        } else {
            EXPECT_EQ(S_OK, faulted.result);
            EXPECT_TRUE(faulted.object);
            EXPECT_EQ(test.FullList(), faulted.list) << Describe(faulted.list);
        }

        // Nothing half: whole cache entries with no wrong stamp, no partial driver file, no
        // temporary file, every handle closed; the box only for a key that could not be made.
        EXPECT_TRUE(StoredCacheIsWhole());
        if (kind != CallKind::kAllocation) {
            // Nothing stored is lost to a failed write. (Memory that runs out may leave entries
            // unrecorded: the files are read again.)
            const std::vector<std::string> paths = CachedPaths();
            for (const std::string& path : startingPaths) {
                EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), path)) << path << " was lost";
            }
        }
        test.ExpectDriverFileWholeOrAbsent(namesBefore);
        EXPECT_TRUE(EveryHandleClosedOnce());
        if (MessageBoxesShown()) {
            if (!lasting) EXPECT_EQ("RegCreateKeyExA", failed);
            EXPECT_EQ(CallKind::kRegistryWrite, kind);
            EXPECT_EQ("Unable to create key", LastMessageBoxText());
        }

        // The fault lifted, the next creation lists everything again.
        const Creation next = test.Create();
        EXPECT_EQ(S_OK, next.result);
        EXPECT_EQ(test.FullList(), next.list);
        EXPECT_TRUE(StoredCacheIsWhole());
        EXPECT_TRUE(EveryHandleClosedOnce());
        if (::testing::Test::HasFailure() || failed.empty()) break;
    }
    printf("%s%s: %d creations, the last without a failure to inject; %d refused\n", KindName(kind),
           lasting ? " (lasting)" : "", failAt, refused);
}

TEST_P(CreationUnderFailingCalls, ObjectIsWholeOrRefusedAndNothingIsWrittenHalf) {
    SweepCreations(*this, GetParam(), false);
}

// The failure lasts: the registry or the disk is full, or a share is gone, and every call of the
// kind from that one on fails.
TEST_P(CreationUnderFailingCalls, FromOneCallOnEveryCallOfItsKindFailsAndNothingIsWrittenHalf) {
    SweepCreations(*this, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, CreationUnderFailingCalls,
                         ::testing::Values(CallKind::kRegistryWrite, CallKind::kFileWrite, CallKind::kAllocation),
                         KindParamName);

// A registry that cannot grow and a disk without room, as the platform answers them: the list is
// still right, nothing partial is left for a later run to load, and the next run with room is
// exact and stores what the full one could not.
class CreationWithoutRoom : public CreationUnderFailingCalls {
protected:
    void TearDown() override {
        Hooked().registryFull = false;
        Hooked().diskRoom = kUnlimitedRoom;
        CreationUnderFailingCalls::TearDown();
    }
    static const DWORD kUnlimitedRoom = 0xFFFFFFFFu;

    // The next creation with room: the full list, the driver file whole, the fixture's files
    // recorded in a whole cache.
    void ExpectNextCreationExact() {
        const Creation next = Create();
        EXPECT_EQ(S_OK, next.result);
        EXPECT_EQ(FullList(), next.list) << Describe(next.list);
        EXPECT_TRUE(ReadFileBytes(driverFile_) == driverImage_) << "the driver file is written whole";
        EXPECT_TRUE(StoredCacheIsWhole());
        const std::vector<std::string> paths = CachedPaths();
        for (const OwnFile& file : own_) {
            EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), file.path)) << file.path << " is not recorded";
        }
    }
};

TEST_F(CreationWithoutRoom, RegistryThatCannotGrowKeepsTheListAndTheStoredCache) {
    const struct {
        const char* machine;
        bool cold;   // the cache key deleted: it cannot be created either
    } cases[] = {{"warm", false}, {"cold", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        if (c.cold) {
            driver_fixtures::DeleteCacheKey();
        } else {
            RestoreStartingCache();
        }
        const std::vector<std::string> before = CachedPaths();
        Hooked().registryFull = true;
        const Creation full = Create();
        Hooked().registryFull = false;
        EXPECT_EQ(S_OK, full.result);
        EXPECT_EQ(FullList(), full.list) << Describe(full.list);
        EXPECT_EQ(before, CachedPaths()) << "what was stored stays as it was";
        EXPECT_TRUE(StoredCacheIsWhole());
        EXPECT_EQ(c.cold ? 1 : 0, MessageBoxesShown());
        EXPECT_TRUE(EveryHandleClosedOnce());
        ExpectNextCreationExact();
    }
}

TEST_F(CreationWithoutRoom, DiskWithoutRoomForTheDriverFileLeavesNoPartialFile) {
    const DWORD size = static_cast<DWORD>(driverImage_.size());
    for (const DWORD room : {DWORD(0), size / 2, size - 1}) {
        SCOPED_TRACE("room for " + std::to_string(room) + " of " + std::to_string(size) + " bytes");
        RestoreStartingCache();
        RemoveDriverFile();
        const std::set<std::string> namesBefore = SystemDirectoryNames();
        Hooked().diskFullSeen = false;
        Hooked().diskRoom = room;
        const Creation full = Create();
        Hooked().diskRoom = kUnlimitedRoom;
        EXPECT_TRUE(Hooked().diskFullSeen) << "the write met the full disk";
        EXPECT_EQ(S_OK, full.result);
        EXPECT_EQ(FullList(), full.list) << Describe(full.list);
        EXPECT_FALSE(FileExists(driverFile_)) << "a driver file that a later run would load";
        ExpectDriverFileWholeOrAbsent(namesBefore);
        EXPECT_TRUE(StoredCacheIsWhole());
        EXPECT_TRUE(EveryHandleClosedOnce());
        ExpectNextCreationExact();
    }
}

}   // namespace
