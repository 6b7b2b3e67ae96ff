// The byte layer under the stored pieces: the index of an image (every entry found by its
// exact path, as the walk from the image's start finds it), joining pieces read one after the
// other (whole entries only, the first entry of a path kept, damage losing only what lies
// behind it in its own piece), and splitting an image into pieces that each fit a registry
// value and are well-formed images on their own.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cache_image_walk.h"
#include "cache_index_slots.h"
#include "version_cache/version_cache_image.h"
#include "version_cache/version_cache_index.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kPieceCapacity = 16300;   // the largest registry value Windows 95/98 accept
const uint32_t kLow = 0x22300C00;        // 1999-07-04 23:30 UTC
const uint32_t kHigh = 0x01BEC675;

Bytes Entry(const std::string& path, const char* stamp, uint32_t low = kLow, uint32_t high = kHigh) {
    return CacheEntryBytes({path, stamp, low, high});
}

void Append(Bytes* image, const Bytes& bytes) {
    image->insert(image->end(), bytes.begin(), bytes.end());
}

// A path of exactly `length` characters in a driver directory, distinct for each `number`.
std::string LongPath(uint32_t number, size_t length) {
    std::string path = "C:\\WINDOWS\\SYSTEM\\" + std::to_string(number) + "_";
    path.resize(length - 4, static_cast<char>('A' + number % 26));
    return path + ".VXD";
}

// The pieces joined in order, as the cache reads them: each copied behind the image, joined.
Bytes JoinPieces(const std::vector<Bytes>& pieces, OwnedCacheIndex* index) {
    Bytes image;
    uint32_t length = 0;
    for (const Bytes& piece : pieces) {
        image.resize(length + piece.size());
        std::copy(piece.begin(), piece.end(), image.begin() + length);
        EXPECT_TRUE(index->Reserve(CountCacheEntries(image.data() + length, static_cast<uint32_t>(piece.size()))));
        length = MergeCachePiece(image.data(), length, static_cast<uint32_t>(piece.size()), &index->index);
    }
    image.resize(length);
    return image;
}

int32_t Indexed(const OwnedCacheIndex& index, const Bytes& image, const std::string& path) {
    return FindIndexedPath(index.index, image.data(), path.data(), static_cast<uint32_t>(path.size()));
}

int32_t Walked(const Bytes& image, const std::string& path) {
    return FindCachedPath(image.data(), static_cast<uint32_t>(image.size()), path.data(),
                          static_cast<uint32_t>(path.size()));
}

TEST(VersionCacheIndex, CapacityIsAPowerOfTwoAtMostHalfFull) {
    const struct {
        uint32_t entries, capacity;
    } cases[] = {{0, 16}, {1, 16}, {8, 16}, {9, 32}, {1023, 2048}, {1024, 2048}, {1025, 4096}, {0x80000000u, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.capacity, CacheIndexCapacityFor(c.entries)) << c.entries;

    std::vector<CacheIndexSlot> slots(16);
    CacheIndex index;
    ResetCacheIndex(&index, slots.data(), 16);
    const Bytes image = Entry(LongPath(1, 40), "1");
    EXPECT_TRUE(CacheIndexHasRoom(index, 8));
    EXPECT_FALSE(CacheIndexHasRoom(index, 9));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(1, IndexCacheEntry(&index, image.data(), 0, 40 - i)) << i;
    EXPECT_EQ(0, IndexCacheEntry(&index, image.data(), 0, 20)) << "a ninth entry would leave it more than half full";
    EXPECT_EQ(8u, index.count);

    CacheIndex none;
    ResetCacheIndex(&none, nullptr, 0);
    EXPECT_FALSE(CacheIndexHasRoom(none, 1));
    EXPECT_EQ(0, IndexCacheEntry(&none, image.data(), 0, 40));
    EXPECT_EQ(-1, FindIndexedPath(none, image.data(), LongPath(1, 40).c_str(), 40));
}

// 1023 entries of paths that share their directory and their length, grown from the smallest
// index: each is found where the walk from the image's start finds it, and nothing else is.
TEST(VersionCacheIndex, FindsEveryEntryWhereTheWalkFindsIt) {
    Bytes image;
    OwnedCacheIndex index;
    std::vector<std::string> paths;
    for (uint32_t i = 0; i < 1023; ++i) {
        paths.push_back(LongPath(i, 70));
        ASSERT_TRUE(index.Reserve(1));
        const uint32_t position = static_cast<uint32_t>(image.size());
        Append(&image, Entry(paths.back(), "04.10.00.2222", kLow + i));
        ASSERT_EQ(1, IndexCacheEntry(&index.index, image.data(), position, 70));
    }
    EXPECT_EQ(2048u, index.index.capacity);
    for (const std::string& path : paths) {
        const int32_t walked = Walked(image, path);
        ASSERT_GE(walked, 0);
        EXPECT_EQ(walked, Indexed(index, image, path)) << path;
    }
    const std::string absent[] = {LongPath(1023, 70), paths[5].substr(0, 69), paths[5] + "X", "04.10.00.2222",
                                  std::string(paths[7]).replace(0, 1, "c")};
    for (const std::string& path : absent) EXPECT_EQ(-1, Indexed(index, image, path)) << path;
}

TEST(VersionCachePieces, JoiningKeepsWholeEntriesAndTheFirstOfEachPath) {
    const std::string a = LongPath(1, 30), b = LongPath(2, 40), c = LongPath(3, 50), d = LongPath(4, 60);
    const Bytes entryA = Entry(a, "01.00.00.0001"), entryB = Entry(b, "02.00.00.0002");
    const Bytes entryC = Entry(c, "03.00.00.0003"), entryD = Entry(d, "04.00.00.0004");
    const Bytes laterA = Entry(a, "09.00.00.0009", kLow + 1);
    Bytes first, second, damaged, tooLong, tooShort;
    Append(&first, entryA);
    Append(&first, entryB);
    Append(&second, laterA);   // the same path again, recorded for another time
    Append(&second, entryC);
    Append(&damaged, entryC);
    damaged.insert(damaged.end(), entryD.begin(), entryD.end() - 3);   // cut short
    Append(&tooLong, Entry(std::string(600, 'L'), "1"));
    Append(&tooLong, entryD);
    Append(&tooShort, Entry("C:\\A.VXD", "1"));   // 8 bytes: too short to be told apart
    Append(&tooShort, entryD);
    Bytes expectedABC = first;
    Append(&expectedABC, entryC);
    Bytes expectedAC = entryA;
    Append(&expectedAC, entryC);
    Bytes expectedAD = entryA;
    Append(&expectedAD, entryD);
    const struct {
        const char* what;
        std::vector<Bytes> pieces;
        Bytes expected;
    } cases[] = {
        {"one whole piece", {first}, first},
        {"a path already held stays as first stored", {first, second}, expectedABC},
        {"a piece's entries behind its damage are lost", {entryA, damaged}, expectedAC},
        {"a piece of garbage adds nothing", {entryA, Bytes(300, 'G'), entryC}, expectedAC},
        {"an empty piece adds nothing", {entryA, Bytes(), entryC}, expectedAC},
        {"a path no row can have is dropped, what follows stays", {entryA, tooLong}, expectedAD},
        {"so is a path too short to measure", {entryA, tooShort}, expectedAD},
        {"the same piece twice", {first, first}, first},
    };
    for (const auto& test : cases) {
        OwnedCacheIndex index;
        const Bytes joined = JoinPieces(test.pieces, &index);
        EXPECT_EQ(test.expected, joined) << test.what;
        EXPECT_EQ(joined.size(), WellFormedCacheLength(joined.data(), static_cast<uint32_t>(joined.size())))
            << test.what;
        for (const std::string& path : {a, b, c, d}) {
            EXPECT_EQ(Walked(joined, path), Indexed(index, joined, path)) << test.what << ": " << path;
        }
    }
}

// 1023 entries of the longest path a row has, split as the save splits them: every piece fits
// a registry value, holds as many whole entries as fit, and is a well-formed image alone; the
// pieces joined again give the image back.
TEST(VersionCachePieces, SplitPiecesFitAValueAndJoinBackToTheImage) {
    Bytes image;
    for (uint32_t i = 0; i < 1023; ++i) Append(&image, Entry(LongPath(i, kCacheLongestPath), "04.10.00.2222", i));
    ASSERT_EQ(1023u * 543u, image.size());
    std::vector<uint32_t> ends(96);
    const uint32_t count =
        SplitCacheImage(image.data(), static_cast<uint32_t>(image.size()), kPieceCapacity, ends.data(), 96);
    const uint32_t perPiece = kPieceCapacity / 543;   // 30 entries, 16,290 bytes
    ASSERT_EQ((1023 + perPiece - 1) / perPiece, count);
    std::vector<Bytes> pieces;
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; start = ends[i++]) {
        const Bytes piece(image.begin() + start, image.begin() + ends[i]);
        EXPECT_LE(piece.size(), kPieceCapacity) << i;
        EXPECT_EQ(i + 1 < count ? perPiece * 543 : (1023 % perPiece) * 543, piece.size()) << i;
        EXPECT_EQ(piece.size(), WellFormedCacheLength(piece.data(), static_cast<uint32_t>(piece.size()))) << i;
        pieces.push_back(piece);
    }
    EXPECT_EQ(image.size(), ends[count - 1]);
    OwnedCacheIndex index;
    EXPECT_EQ(image, JoinPieces(pieces, &index));
    EXPECT_EQ(1023u, index.index.count);
}

TEST(VersionCachePieces, SplitEdges) {
    Bytes three;
    for (uint32_t i = 0; i < 3; ++i) Append(&three, Entry(LongPath(i, 100), "1"));   // 132 bytes each
    Bytes oversized = Entry(LongPath(0, 100), "1");
    Append(&oversized, Entry(std::string(700, 'L'), "1"));   // larger than a piece of 400
    const struct {
        const char* what;
        Bytes image;
        uint32_t capacity, maxPieces;
        std::vector<uint32_t> ends;
    } cases[] = {
        {"empty image: one empty piece", Bytes(), 400, 8, {0}},
        {"all in one piece", three, 400, 8, {396}},
        {"exactly full pieces", three, 264, 8, {264, 396}},
        {"one entry short of room", three, 263, 8, {132, 264, 396}},
        {"more pieces needed than allowed", three, 132, 2, {132, 264}},
        {"an entry larger than a piece ends the pieces", oversized, 400, 8, {132}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> ends(c.maxPieces, 0xEEEEEEEEu);
        const uint32_t count = SplitCacheImage(c.image.data(), static_cast<uint32_t>(c.image.size()), c.capacity,
                                               ends.data(), c.maxPieces);
        ends.resize(count);
        EXPECT_EQ(c.ends, ends) << c.what;
    }
}

}   // namespace
