// The version cache in its registry pieces, with the registry limits of Windows 95/98 in force
// (StrictRegistry: no value over 16,300 bytes, no key whose values pass 64 KB), on a machine
// whose driver directories hold the full 1023 files, most of them with long names. Whole
// inventories run on it; probe files spread over every piece are in use (named by a device
// tree of the test's own), so that their stamps can be read after compaction.
//
// A stamp shows where it came from: the probes are first written with one version and, keeping
// their last-write time, rewritten with another; a run that opened the file reports the second,
// a run served by the cache the first.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cache_image_walk.h"
#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_inventory.h"
#include "driver_machine.h"
#include "owner.h"
#include "registry_keys.h"
#include "strict_registry.h"
#include "version_cache/version_cache_image.h"

namespace {

using Bytes = std::vector<uint8_t>;
using device_tree_fixture::DeviceTree;
using namespace driver_fixtures;

const FileVersion kCachedVersion = {4, 10, 0, 2222};
const char kCachedStamp[] = "04.10.00.2222";
const FileVersion kRereadVersion = {5, 0, 2195, 1};
const char kRereadStamp[] = "05.00.01.2195";
const size_t kDriverFiles = 1023;
const size_t kProbeEvery = 16;        // every 16th file placed is a probe
const DWORD kKeyBudget = 60 * 1024;   // what Windows 95 counts as full, about
const DWORD kPiecesPerKey = 3;

std::string PieceName(size_t piece) {
    return piece == 0 ? "DDB" : "DDB" + std::to_string(piece);
}
std::string PieceKey(size_t piece) {
    return piece < kPiecesPerKey ? "" : PieceName(piece - piece % kPiecesPerKey);
}
std::string Upper(std::string text) {
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}
bool SameName(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

Bytes Entry(const std::string& path, const FILETIME& time, const char* stamp) {
    return CacheEntryBytes({path, stamp, time.dwLowDateTime, time.dwHighDateTime});
}

// The cache key's tree as stored: its values by key and name, and its pieces.
struct StoredCache {
    std::vector<RegistryTreeValue> values;
    std::vector<std::string> keys;
    bool present = false;

    static StoredCache Read() {
        StoredCache stored;
        stored.present = ReadCacheTree(&stored.values, &stored.keys);
        return stored;
    }
    const RegistryTreeValue* Find(const std::string& key, const std::string& name) const {
        for (const RegistryTreeValue& value : values) {
            if (SameName(value.key, key) && SameName(value.name, name)) return &value;
        }
        return nullptr;
    }
    const Bytes* Piece(size_t piece) const {
        const RegistryTreeValue* value = Find(PieceKey(piece), PieceName(piece));
        return value ? &value->data : nullptr;
    }
    // "DDB Pieces", or 0 when it is not a REG_DWORD of 4 bytes.
    DWORD Count() const {
        const RegistryTreeValue* value = Find("", "DDB Pieces");
        if (!value || value->type != REG_DWORD || value->data.size() != 4) return 0;
        return ReadCacheWord(value->data.data());
    }
    // Piece by piece, the paths each holds.
    std::vector<std::vector<CacheEntryFields>> Pieces() const {
        std::vector<std::vector<CacheEntryFields>> pieces;
        for (DWORD piece = 0; piece < Count(); ++piece) {
            pieces.push_back(Piece(piece) ? CacheEntriesOf(*Piece(piece)) : std::vector<CacheEntryFields>());
        }
        return pieces;
    }
    // The piece that holds the path, or -1.
    int PieceOf(const std::string& path) const {
        const auto pieces = Pieces();
        for (size_t piece = 0; piece < pieces.size(); ++piece) {
            for (const CacheEntryFields& entry : pieces[piece]) {
                if (entry.path == path) return static_cast<int>(piece);
            }
        }
        return -1;
    }
};

// Every value within 16,300 bytes and every key's values (names and data) within 60 KB.
void ExpectWithinTheLimits(const StoredCache& stored) {
    std::map<std::string, DWORD> keySizes;
    for (const RegistryTreeValue& value : stored.values) {
        EXPECT_LE(value.data.size(), 16300u) << value.key << "\\" << value.name;
        keySizes[Upper(value.key)] += static_cast<DWORD>(value.name.size() + value.data.size());
    }
    for (const auto& key : keySizes) EXPECT_LE(key.second, kKeyBudget) << "key \"" << key.first << "\"";
}

// The whole cache as a save leaves it: within the limits, "DDB" a well-formed image on its own,
// pieces 0 to count - 1 present, each whole entries, each path once, and nothing beyond them
// under the key but the count and "Description".
void ExpectWhole(const StoredCache& stored) {
    ASSERT_TRUE(stored.present);
    ExpectWithinTheLimits(stored);
    const DWORD count = stored.Count();
    ASSERT_GE(count, 1u);
    const Bytes* first = stored.Piece(0);
    ASSERT_NE(nullptr, first);
    EXPECT_FALSE(first->empty());
    EXPECT_EQ(first->size(), WellFormedCacheLength(first->data(), static_cast<uint32_t>(first->size())));
    std::set<std::string> paths;
    for (DWORD piece = 0; piece < count; ++piece) {
        const Bytes* bytes = stored.Piece(piece);
        ASSERT_NE(nullptr, bytes) << "piece " << piece;
        EXPECT_EQ(bytes->size(), WellFormedCacheLength(bytes->data(), static_cast<uint32_t>(bytes->size())));
        for (const CacheEntryFields& entry : CacheEntriesOf(*bytes))
            EXPECT_TRUE(paths.insert(entry.path).second) << entry.path;
    }
    for (const RegistryTreeValue& value : stored.values) {
        bool known = value.key.empty() && (SameName(value.name, "DDB Pieces") || SameName(value.name, "Description"));
        for (DWORD piece = 0; piece < count && !known; ++piece) {
            known = SameName(value.key, PieceKey(piece)) && SameName(value.name, PieceName(piece));
        }
        EXPECT_TRUE(known) << "left beyond the count: " << value.key << "\\" << value.name;
    }
    for (const std::string& key : stored.keys) {
        bool known = key.empty();
        for (DWORD piece = kPiecesPerKey; piece < count && !known; piece += kPiecesPerKey) {
            known = SameName(key, PieceKey(piece));
        }
        EXPECT_TRUE(known) << "key left beyond the count: " << key;
    }
}

// Raw changes to the stored tree, for damage. `key` is the path below the cache key.
void SetStored(const std::string& key, const std::string& name, DWORD type, const Bytes& data) {
    const std::string path = key.empty() ? std::string(kCacheKey) : std::string(kCacheKey) + "\\" + key;
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &handle, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(handle, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())));
    RegCloseKey(handle);
}
void DeleteStored(const std::string& key, const std::string& name) {
    const std::string path = key.empty() ? std::string(kCacheKey) : std::string(kCacheKey) + "\\" + key;
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &handle));
    if (name.empty()) {
        RegCloseKey(handle);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
        return;
    }
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(handle, name.c_str()));
    RegCloseKey(handle);
}
Bytes Word(DWORD value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

struct Probe {
    std::string name, path;
};

// The machine of these tests, set up once: files up to 1023 in the driver directories, long
// names mostly, probes among them in use through a device tree. Put back when the suite ends.
struct Machine {
    CacheKeyBackup backup;   // first: restored last
    PlacedFiles files;
    std::unique_ptr<DeviceTree> tree;
    std::vector<Probe> probes;
    std::vector<std::string> fillers;   // the other placed files' full paths
    DriverDirectories directories = GetDriverDirectories();
    FILETIME time = UtcFileTime(1999, 4, 23, 22, 22);
};
Machine* g_machine = nullptr;

class CacheInPieces : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_machine = new Machine;
        Machine& m = *g_machine;
        const size_t present = ListDriverFiles().size();
        const std::string tag = "P" + std::to_string(GetCurrentProcessId() % 10000);
        for (size_t i = 0; present + i < kDriverFiles; ++i) {
            char number[8];
            wsprintfA(number, "%04u", static_cast<unsigned>(i));
            // Names of 119 to 228 characters, paths of up to 257: the longest the platform
            // opens (MAX_PATH). Each name sorts by its number, the probes' too.
            std::string name = tag + number;
            const bool probe = i % kProbeEvery == 0;
            if (!probe) name += "_" + std::string(115 + (i * 37) % 110 - name.size(), static_cast<char>('A' + i % 26));
            name += ".VXD";
            const std::string path =
                m.files.Place(m.directories.ioSubSys, name, BuildVersionedPe(kCachedVersion), m.time);
            if (path.empty()) {
                ADD_FAILURE() << "cannot place " << name << ": error " << GetLastError();
                return;
            }
            if (probe) {
                m.probes.push_back({name, m.directories.ioSubSys + "\\" + name});
            } else {
                m.fillers.push_back(path);
            }
        }
        // Two device nodes whose class keys name the probes (a list value holds 1023 bytes).
        m.tree.reset(new DeviceTree);
        std::string lists[2];
        for (size_t i = 0; i < m.probes.size(); ++i) {
            std::string& list = lists[i % 2];
            list += (list.empty() ? "" : ",") + m.probes[i].name;
        }
        for (int node = 0; node < 2; ++node) {
            const std::string id = "PROBES" + std::to_string(node);
            m.tree->AddChain(id, id);
            m.tree->SetClassValue(id, "DeviceVxDs", lists[node]);
        }
    }
    static void TearDownTestSuite() {
        delete g_machine;
        g_machine = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(kDriverFiles, ListDriverFiles().size());
        ASSERT_GE(TheMachine().probes.size(), 50u);
        ASSERT_TRUE(strict_.active());
        DeleteCacheKey();
        SetProbes(kCachedVersion);
    }
    void TearDown() override { DeleteCacheKey(); }

    static Machine& TheMachine() { return *g_machine; }

    // Rewrites every probe with this version, keeping its last-write time.
    void SetProbes(FileVersion version) {
        for (const Probe& probe : TheMachine().probes) {
            ASSERT_FALSE(
                TheMachine()
                    .files
                    .Place(TheMachine().directories.ioSubSys, probe.name, BuildVersionedPe(version), TheMachine().time)
                    .empty());
        }
    }

    // One whole inventory; the stamp of every probe it lists, by name.
    std::map<std::string, std::string> Create() {
        std::map<std::string, std::string> stamps;
        std::unique_ptr<DriverInventory> inventory(new DriverInventory(RunTiming::kNotShown));
        for (DWORD index = 1; index <= inventory->GetItemCount(); ++index) {
            char name[512] = {}, stamp[128] = {};
            inventory->GetItemNameAndStamp(name, stamp, index);
            stamps[name] = stamp;
        }
        return stamps;
    }

    // A probe's stamp from a creation's list.
    static std::string StampOf(const std::map<std::string, std::string>& stamps, const Probe& probe) {
        const auto found = stamps.find(Upper(probe.name));
        return found == stamps.end() ? "<not listed>" : found->second;
    }

    StrictRegistry strict_;
};

// The first creation reads every file and stores the cache in pieces within the limits; the
// second reads none: every probe, in every piece, gives the stamp of its first contents.
TEST_F(CacheInPieces, ThousandLongPathsStayWithinTheLimitsAndTheSecondCreationOpensNoFile) {
    const auto first = Create();
    for (const Probe& probe : TheMachine().probes) EXPECT_EQ(kCachedStamp, StampOf(first, probe)) << probe.name;
    EXPECT_EQ(0, strict_.refused());

    const StoredCache stored = StoredCache::Read();
    ExpectWhole(stored);
    const auto pieces = stored.Pieces();
    EXPECT_GE(pieces.size(), 2 * kPiecesPerKey + 1) << "pieces in at least two keys under the cache key";
    size_t entries = 0;
    for (const auto& piece : pieces) entries += piece.size();
    EXPECT_EQ(kDriverFiles, entries) << "one entry for every row";
    std::set<int> piecesWithProbes;
    for (const Probe& probe : TheMachine().probes) piecesWithProbes.insert(stored.PieceOf(probe.path));
    EXPECT_EQ(0u, piecesWithProbes.count(-1)) << "every probe has its entry";
    EXPECT_EQ(pieces.size(), piecesWithProbes.size()) << "a probe in every piece";

    SetProbes(kRereadVersion);
    const int writes = strict_.written();
    const auto second = Create();
    for (const Probe& probe : TheMachine().probes) EXPECT_EQ(kCachedStamp, StampOf(second, probe)) << probe.name;
    EXPECT_EQ(writes, strict_.written()) << "an unchanged run writes nothing";
}

// A machine where an earlier release, which knows only "DDB", left its cache: its entries
// serve this release, which keeps them at the front of "DDB" and stores the rest behind them.
TEST_F(CacheInPieces, EarlierReleasesDdbKeepsWorkingAndIsExtended) {
    const char kEarlierStamp[] = "07.07.07.0007";
    Bytes earlier;
    for (size_t i = 0; i < 6; ++i) {
        const Bytes entry = Entry(TheMachine().probes[i].path, TheMachine().time, kEarlierStamp);
        earlier.insert(earlier.end(), entry.begin(), entry.end());
    }
    ASSERT_TRUE(WriteCacheValue("DDB", REG_BINARY, earlier));

    const auto first = Create();
    for (size_t i = 0; i < TheMachine().probes.size(); ++i) {
        EXPECT_EQ(i < 6 ? kEarlierStamp : kCachedStamp, StampOf(first, TheMachine().probes[i])) << i;
    }
    const StoredCache stored = StoredCache::Read();
    ExpectWhole(stored);
    const Bytes* ddb = stored.Piece(0);
    ASSERT_NE(nullptr, ddb);
    ASSERT_GE(ddb->size(), earlier.size());
    EXPECT_EQ(earlier, Bytes(ddb->begin(), ddb->begin() + earlier.size())) << "the earlier entries lead \"DDB\"";
    EXPECT_GT(stored.Count(), 1u);

    SetProbes(kRereadVersion);
    const auto second = Create();
    for (size_t i = 0; i < TheMachine().probes.size(); ++i) {
        EXPECT_EQ(i < 6 ? kEarlierStamp : kCachedStamp, StampOf(second, TheMachine().probes[i])) << i;
    }
}

// A save writes the pieces that changed, then the count and the description, and no other
// piece: a changed time rewrites the piece that holds the entry; a new file's entry goes into
// the last piece (or a new one behind it).
TEST_F(CacheInPieces, SaveRewritesOnlyThePiecesThatChanged) {
    Create();
    const StoredCache before = StoredCache::Read();
    ExpectWhole(before);
    const DWORD count = before.Count();
    const Probe& moved = TheMachine().probes[TheMachine().probes.size() / 2];
    const int changedPiece = before.PieceOf(moved.path);
    ASSERT_GT(changedPiece, 0);
    ASSERT_LT(changedPiece, static_cast<int>(count) - 1) << "a piece in the middle";

    ASSERT_TRUE(SetLastWriteTime(moved.path, UtcFileTime(2002, 2, 2, 2, 2)));
    int writes = strict_.written();
    Create();
    EXPECT_EQ(writes + 3, strict_.written()) << "the piece, the count and the description";
    const StoredCache changed = StoredCache::Read();
    ExpectWhole(changed);
    ASSERT_EQ(count, changed.Count());
    for (DWORD piece = 0; piece < count; ++piece) {
        EXPECT_EQ(static_cast<int>(piece) == changedPiece, *before.Piece(piece) != *changed.Piece(piece)) << piece;
    }

    // A new file: its entry is appended, into the last piece when it has room.
    const std::string added = "NEWFILE_" + std::to_string(GetCurrentProcessId()) + ".VXD";
    ASSERT_TRUE(DeleteFileA(TheMachine().fillers.back().c_str())) << "the machine keeps 1023 files";
    ASSERT_FALSE(
        TheMachine()
            .files.Place(TheMachine().directories.system, added, BuildVersionedPe(kCachedVersion), TheMachine().time)
            .empty());
    writes = strict_.written();
    Create();
    const StoredCache grown = StoredCache::Read();
    ExpectWhole(grown);
    const DWORD grownCount = grown.Count();
    ASSERT_GE(grownCount, count);
    EXPECT_EQ(writes + 2 + static_cast<int>(grownCount - count) + 1, strict_.written())
        << "the last piece, any new one, the count and the description";
    for (DWORD piece = 0; piece + 1 < count; ++piece) EXPECT_EQ(*changed.Piece(piece), *grown.Piece(piece)) << piece;
    EXPECT_GE(grown.PieceOf(TheMachine().directories.system + "\\" + added), static_cast<int>(count) - 1);
    // The machine as it was: the new file goes, the one taken away comes back.
    EXPECT_TRUE(DeleteFileA((TheMachine().directories.system + "\\" + added).c_str()));
    const std::string takenAway = TheMachine().fillers.back().substr(TheMachine().directories.ioSubSys.size() + 1);
    ASSERT_FALSE(
        TheMachine()
            .files
            .Place(TheMachine().directories.ioSubSys, takenAway, BuildVersionedPe(kCachedVersion), TheMachine().time)
            .empty());
}

// A piece the registry refuses at the save loses its own entries and nothing else: the key of
// pieces 3 to 5 already holds 48,000 bytes of other values, so pieces 4 and 5 do not fit.
TEST_F(CacheInPieces, PieceTheRegistryRefusesLosesOnlyItsOwnEntries) {
    HKEY group = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kCacheKey) + "\\DDB3").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &group, nullptr));
    const Bytes other(16000, 'O');
    for (const char* name : {"Other0", "Other1", "Other2"}) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(group, name, 0, REG_BINARY, other.data(), 16000));
    }
    RegCloseKey(group);

    Create();
    EXPECT_GT(strict_.refused(), 0);
    const StoredCache stored = StoredCache::Read();
    for (const RegistryTreeValue& value : stored.values) EXPECT_LE(value.data.size(), 16300u) << value.name;
    ASSERT_GE(stored.Count(), 7u);
    EXPECT_NE(nullptr, stored.Piece(3));
    EXPECT_EQ(nullptr, stored.Piece(4));
    EXPECT_EQ(nullptr, stored.Piece(5));

    SetProbes(kRereadVersion);
    const auto next = Create();
    size_t lost = 0, before = 0, after = 0;
    for (const Probe& probe : TheMachine().probes) {
        const int piece = stored.PieceOf(probe.path);
        EXPECT_EQ(piece < 0 ? kRereadStamp : kCachedStamp, StampOf(next, probe)) << probe.name;
        lost += piece < 0;
        before += piece >= 0 && piece < 4;
        after += piece > 5;
    }
    EXPECT_GT(lost, 0u);
    EXPECT_GT(before, 0u);
    EXPECT_GT(after, 0u);
}

// What damaged and stale pieces cost, case by case, on the stored cache of a first creation:
// the probes whose entries the damage takes away are read again (their files now give the
// second version), every other probe keeps its cached stamp, and no stamp comes from an entry
// of another time or from a piece beyond the count. The save of that run (a changed file makes
// one) leaves the whole cache again, and the next creation is served by it without writing.
// The cases run in five interleaved parts, each a test of its own (two creations a case over a
// thousand files take long under emulation).
class DamagedPieces : public CacheInPieces, public ::testing::WithParamInterface<size_t> {};
const size_t kDamagedPieceParts = 5;

TEST_P(DamagedPieces, StaleAndDamagedPiecesLoseOnlyTheirOwnEntries) {
    Create();
    const StoredCache good = StoredCache::Read();
    ExpectWhole(good);
    const DWORD count = good.Count();
    ASSERT_GE(count, 12u);
    const auto pieces = good.Pieces();
    struct Placed {
        int piece;
        size_t entry;   // its place within the piece
    };
    std::map<std::string, Placed> placed;
    for (const Probe& probe : TheMachine().probes) {
        const int piece = good.PieceOf(probe.path);
        ASSERT_GE(piece, 0) << probe.name;
        size_t entry = 0;
        while (pieces[piece][entry].path != probe.path) ++entry;
        placed[probe.name] = {piece, entry};
    }
    // The damage of "cut inside an entry": 10 bytes into the last probe's entry in piece 5.
    const Bytes& five = *good.Piece(5);
    size_t cutEntry = 0, cutAt = 0;
    for (size_t entry = 0, at = 0; entry < pieces[5].size(); at += pieces[5][entry++].path.size() + 32) {
        for (const Probe& probe : TheMachine().probes) {
            if (probe.path == pieces[5][entry].path) cutEntry = entry, cutAt = at + 10;
        }
    }
    ASSERT_GT(cutAt, 10u) << "a probe after the first entry of piece 5";
    // Entries of the probes of pieces 9 and later, recorded for another time with another stamp.
    const FILETIME older = UtcFileTime(1990, 1, 1, 0, 0);
    Bytes olderEntries, staleEntries;
    for (const Probe& probe : TheMachine().probes) {
        const Bytes stale = Entry(probe.path, TheMachine().time, "66.66.66.6666");
        staleEntries.insert(staleEntries.end(), stale.begin(), stale.end());
        if (placed[probe.name].piece < 9 || olderEntries.size() > 15000) continue;
        const Bytes entry = Entry(probe.path, older, "66.66.66.6666");
        olderEntries.insert(olderEntries.end(), entry.begin(), entry.end());
    }
    staleEntries.resize(std::min<size_t>(staleEntries.size(), 16000));
    staleEntries.resize(WellFormedCacheLength(staleEntries.data(), static_cast<uint32_t>(staleEntries.size())));
    const std::set<std::string> olderPaths = [&] {
        std::set<std::string> paths;
        for (const CacheEntryFields& entry : CacheEntriesOf(olderEntries)) paths.insert(entry.path);
        return paths;
    }();

    using Lost = std::function<bool(const Probe&, const Placed&)>;
    const struct {
        const char* what;
        std::function<void()> damage;
        Lost lost;
    } cases[] = {
        {"\"DDB\" missing", [] { DeleteStored("", "DDB"); },
         [](const Probe&, const Placed& p) { return p.piece == 0; }},
        {"a piece missing", [] { DeleteStored("DDB3", "DDB4"); },
         [](const Probe&, const Placed& p) { return p.piece == 4; }},
        {"a piece cut inside an entry",
         [&] { SetStored("DDB3", "DDB5", REG_BINARY, Bytes(five.begin(), five.begin() + cutAt)); },
         [&](const Probe&, const Placed& p) { return p.piece == 5 && p.entry >= cutEntry; }},
        {"a piece of garbage", [] { SetStored("", "DDB1", REG_BINARY, Bytes(5000, 0x5A)); },
         [](const Probe&, const Placed& p) { return p.piece == 1; }},
        {"the key of three pieces missing", [] { DeleteStored("DDB6", ""); },
         [](const Probe&, const Placed& p) { return p.piece >= 6 && p.piece <= 8; }},
        {"no piece count", [] { DeleteStored("", "DDB Pieces"); },
         [](const Probe&, const Placed& p) { return p.piece >= 1; }},
        {"a piece count that is no number",
         [] {
             SetStored("", "DDB Pieces", REG_SZ, {'1', '2', 0});
         },
         [](const Probe&, const Placed& p) { return p.piece >= 1; }},
        {"a piece count past the most pieces kept", [] { SetStored("", "DDB Pieces", REG_DWORD, Word(1000)); },
         [](const Probe&, const Placed& p) { return p.piece >= 1; }},
        {"a piece count smaller than the pieces stored", [] { SetStored("", "DDB Pieces", REG_DWORD, Word(2)); },
         [](const Probe&, const Placed& p) { return p.piece >= 2; }},
        {"a piece count larger than the pieces stored",
         [&] { SetStored("", "DDB Pieces", REG_DWORD, Word(count + 4)); },
         [](const Probe&, const Placed&) { return false; }},
        {"pieces beyond the count, with other stamps for the same times",
         [&] {
             SetStored(PieceKey(count), PieceName(count), REG_BINARY, staleEntries);
             SetStored(PieceName((count / 3 + 1) * 3), PieceName((count / 3 + 1) * 3), REG_BINARY, staleEntries);
         },
         [](const Probe&, const Placed&) { return false; }},
        {"a piece of another save, with older times of later pieces' paths",
         [&] { SetStored("", "DDB2", REG_BINARY, olderEntries); },
         [&](const Probe& probe, const Placed& p) { return p.piece == 2 || olderPaths.count(probe.path) > 0; }},
        // (Not REG_SZ: Wine converts strings through the code page on the way in and out.)
        {"a piece stored as another type", [&] { SetStored("DDB3", "DDB3", REG_NONE, *good.Piece(3)); },
         [](const Probe&, const Placed&) { return false; }},
    };
    ASSERT_FALSE(olderPaths.empty());
    SetProbes(kRereadVersion);
    for (size_t index = GetParam(); index < sizeof(cases) / sizeof(cases[0]); index += kDamagedPieceParts) {
        const auto& c = cases[index];
        SCOPED_TRACE(c.what);
        WriteCacheTree(good.values, good.keys);
        c.damage();
        ASSERT_TRUE(SetLastWriteTime(TheMachine().fillers[index * 7], UtcFileTime(2001, 1, 1, 1, 1)));

        const auto damaged = Create();
        size_t lost = 0;
        for (const Probe& probe : TheMachine().probes) {
            const bool isLost = c.lost(probe, placed[probe.name]);
            lost += isLost;
            EXPECT_EQ(isLost ? kRereadStamp : kCachedStamp, StampOf(damaged, probe)) << probe.name;
        }
        ExpectWhole(StoredCache::Read());

        const int writes = strict_.written();
        const auto next = Create();
        EXPECT_EQ(damaged, next);
        EXPECT_EQ(writes, strict_.written()) << "the save made the cache whole: nothing more to write";
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, DamagedPieces, ::testing::Range<size_t>(0, kDamagedPieceParts));

// The test registry itself refuses what Windows 98 refuses, counts names and data of the
// key's other values (also through a handle that may only set values), and lets a value be
// replaced by one of the same key's budget.
TEST(StrictRegistry, RefusesWhatWindows98Refuses) {
    const std::string scratch = "Software\\BrantovixStrictRegistry" + std::to_string(GetCurrentProcessId());
    RegistryKey key;
    ASSERT_TRUE(key.Opened(RegCreateKeyExA(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                           key.receive(), nullptr) == ERROR_SUCCESS));
    const Bytes data(16301, 'D');
    const std::string longestName(255, 'N');
    const DWORD kLastBytes = 65536 - (4 + 255 + 1) - (4 * 16300 + 1);
    StrictRegistry strict;
    ASSERT_TRUE(strict.active());
    auto set = [&](const std::string& name, DWORD size) {
        return RegSetValueExA(key.get(), name.c_str(), 0, REG_BINARY, data.data(), size);
    };
    const struct {
        const char* what;
        std::string name;
        DWORD size;
        bool accepted;
    } writes[] = {
        {"a value of 16,301 bytes", "A", 16301, false},
        {"a value of 16,300 bytes", "A", 16300, true},
        {"a name of 256 characters", longestName + "N", 1, false},
        {"a name of 255 characters", longestName, 1, true},
        {"names and data up to 64 KB", "B", 16300, true},
        {"", "C", 16300, true},
        {"", "D", 16300, true},
        {"", "E", kLastBytes, true},   // names 4 + 255 + 1, data 4 * 16,300 + 1 + kLastBytes: 64 KB
        {"one byte more passes 64 KB", "F", 0, false},
        {"a value replaced counts only once", "E", kLastBytes, true},
        {"a replacement that passes 64 KB", "E", kLastBytes + 1, false},
    };
    int refused = 0;
    for (const auto& w : writes) {
        const LONG status = set(w.name, w.size);
        EXPECT_EQ(w.accepted, status == ERROR_SUCCESS) << w.what << " (" << status << ")";
        refused += !w.accepted;
    }
    EXPECT_EQ(refused, strict.refused());
    EXPECT_EQ(static_cast<int>(sizeof(writes) / sizeof(writes[0])) - refused, strict.written());
    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key.get(), "F", nullptr, nullptr, nullptr, &size))
        << "a refused value is not written";
    key.reset();
    RegDeleteKeyA(HKEY_CURRENT_USER, scratch.c_str());
}

}   // namespace
