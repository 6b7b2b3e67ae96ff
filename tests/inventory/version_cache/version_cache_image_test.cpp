// The version cache image as bytes: the entry layout, the search that only accepts whole
// entries reached from the image's start, the length of the well-formed part, and updates in
// place that leave every other entry's bytes alone.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cache_image_walk.h"
#include "version_cache/version_cache_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kNoDevice[9] = {};
const char kDevice[] = "VPOWERD ";   // a device name field of 8 characters and a zero
const char kStamp[] = "04.10.00.2222";
const char kLongStamp[] = "04.10.100.0100";
const char kPathQ[] = "C:\\windows\\system32\\AB.SYSX";
const char kPathP[] = "C:\\windows\\system32\\AB.SYS";   // the leading part of kPathQ
const char kPathR[] = "C:\\windows\\system32\\IoSubSys\\R.VXD";
// A last-write time of 1999-07-04 23:30 UTC.
const uint32_t kLow = 0x22300C00;
const uint32_t kHigh = 0x01BEC675;

int32_t Find(const Bytes& image, const std::string& path) {
    return FindCachedPath(image.data(), static_cast<uint32_t>(image.size()), path.data(),
                          static_cast<uint32_t>(path.size()));
}

TEST(VersionCacheImage, EntryLayoutByteForByte) {
    const Bytes image = CacheImageOf({{"C:\\A.VXD", kLongStamp, 0x11223344, 0x01BEC5D0, kDevice}});
    const Bytes expected = {'C',  ':',  '\\', 'A',  '.',  'V',  'X',  'D',                             // path, no zero
                            'V',  'P',  'O',  'W',  'E',  'R',  'D',  ' ',  0,                         // device name
                            '0',  '4',  '.',  '1',  '0',  '.',  '1',  '0',  '0', '.', '0', '1', '0',   // 13 of 14
                            0x44, 0x33, 0x22, 0x11, 0xD0, 0xC5, 0xBE, 0x01,                            // low, high
                            0,    0};
    EXPECT_EQ(expected, image);
    EXPECT_EQ(0x11223344u, ReadCacheWord(image.data() + 8 + kCacheTimeLowOffset));
    EXPECT_EQ(0x01BEC5D0u, ReadCacheWord(image.data() + 8 + kCacheTimeHighOffset));
}

TEST(VersionCacheImage, ShortAndEmptyStampsAreZeroFilled) {
    for (const char* stamp : {"1.2", ""}) {
        const Bytes image = CacheImageOf({{"C:\\B.DRV", stamp, 1, 2}});
        const Bytes field(image.begin() + 8 + kCacheStampOffset, image.begin() + 8 + kCacheStampOffset + 13);
        Bytes expected(13, 0);
        memcpy(expected.data(), stamp, strlen(stamp));
        EXPECT_EQ(expected, field) << stamp;
    }
}

TEST(VersionCacheImage, FindsOnlyWholeEntriesReachedFromTheStart) {
    const Bytes image = CacheImageOf({{kPathQ, kStamp, 1, 2}, {kPathR, kLongStamp, 3, 4, kDevice}, {kPathP, "", 5, 6}});
    const int32_t second = static_cast<int32_t>(strlen(kPathQ) + 32);
    const int32_t third = second + static_cast<int32_t>(strlen(kPathR) + 32);
    const struct {
        const char* what;
        std::string path;
        int32_t expected;
    } cases[] = {
        {"first entry", kPathQ, 0},
        {"entry after one with a device name", kPathR, second},
        {"leading part of an earlier path", kPathP, third},
        {"leading part of no stored path", "C:\\windows\\system32", -1},
        {"inside a path", "windows\\system32\\AB.SYS", -1},
        {"case differs", "c:\\windows\\system32\\ab.sysx", -1},
        {"bytes of a device name", "VPOWERD ", -1},
        {"bytes of a stamp", "04.10.00.2222", -1},
        {"longer than any entry", std::string(kPathQ) + "X", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Find(image, c.path)) << c.what;
    EXPECT_EQ(-1, Find(CacheImageOf({{kPathQ, kStamp, 1, 2}}), kPathP)) << "prefix alone";
}

TEST(VersionCacheImage, EmptyOrBrokenImagesHoldNoPathBehindTheBreak) {
    const Bytes whole = CacheImageOf({{kPathP, kStamp, kLow, kHigh}, {kPathR, kStamp, kLow, kHigh}});
    const uint32_t first = static_cast<uint32_t>(strlen(kPathP) + 32);
    Bytes truncated(whole.begin(), whole.end() - 1);
    Bytes noTrailingZeros(whole.begin(), whole.end() - 2);   // path and 30 bytes only
    Bytes garbageFirst = whole;
    garbageFirst.insert(garbageFirst.begin(), {'X', 0, 'Y'});
    Bytes nonZeroTail = whole;
    nonZeroTail[first - 1] = 1;
    Bytes fullDeviceName = whole;   // the last entry's 9 device name bytes, none of them zero
    std::fill(fullDeviceName.begin() + first + strlen(kPathR), fullDeviceName.begin() + first + strlen(kPathR) + 9,
              'D');
    const struct {
        const char* what;
        Bytes image;
        uint32_t wellFormed;
        int32_t foundP, foundR;
    } cases[] = {
        {"whole", whole, static_cast<uint32_t>(whole.size()), 0, static_cast<int32_t>(first)},
        {"empty", Bytes(), 0, -1, -1},
        {"last entry truncated", truncated, first, 0, -1},
        {"last entry without its two zero bytes", noTrailingZeros, first, 0, -1},
        // "X" and the next 30 bytes happen to form an entry; what follows does not.
        {"garbage in front", garbageFirst, 33, -1, -1},
        {"first entry's trailing byte not zero", nonZeroTail, 0, -1, -1},
        {"device name without a zero byte", fullDeviceName, first, 0, -1},
        {"zeros only", Bytes(200, 0), 0, -1, -1},
        {"no zero at all", Bytes(200, 'A'), 0, -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.wellFormed, WellFormedCacheLength(c.image.data(), static_cast<uint32_t>(c.image.size()))) << c.what;
        EXPECT_EQ(c.foundP, Find(c.image, kPathP)) << c.what;
        EXPECT_EQ(c.foundR, Find(c.image, kPathR)) << c.what;
    }
    EXPECT_EQ(-1, FindCachedPath(nullptr, 0, kPathP, static_cast<uint32_t>(strlen(kPathP))));
    EXPECT_EQ(-1, FindCachedPath(whole.data(), static_cast<uint32_t>(whole.size()), kPathP, 0));
}

TEST(VersionCacheImage, UpdateInPlaceTouchesOnlyItsOwnFields) {
    Bytes image = CacheImageOf({{kPathQ, kStamp, kLow, kHigh, kDevice}, {kPathP, kStamp, kLow, kHigh}});
    const Bytes before = image;
    const int32_t p = Find(image, kPathP);
    ASSERT_EQ(static_cast<int32_t>(strlen(kPathQ) + 32), p);
    const uint32_t fields = static_cast<uint32_t>(p) + static_cast<uint32_t>(strlen(kPathP));
    WriteCacheEntryFields(image.data() + fields, kNoDevice, "05.00.01.219", 0xAABBCCDD, 0x01020304);
    ASSERT_EQ(before.size(), image.size());
    for (size_t i = 0; i < image.size(); ++i) {
        if (i >= fields && i < fields + kCacheFieldsSize) continue;
        EXPECT_EQ(before[i], image[i]) << "byte " << i << " outside the updated fields";
    }
    EXPECT_EQ(0xAABBCCDDu, ReadCacheWord(image.data() + fields + kCacheTimeLowOffset));
    EXPECT_EQ(0x01020304u, ReadCacheWord(image.data() + fields + kCacheTimeHighOffset));
    EXPECT_EQ(image.size(), WellFormedCacheLength(image.data(), static_cast<uint32_t>(image.size())));
    EXPECT_EQ(0, Find(image, kPathQ));
}

// The fuzz driver's checks, run on deterministic variations of a valid image: bytes flipped,
// cut short, duplicated and zeroed.
TEST(VersionCacheImage, FuzzDriverOnDamagedImages) {
    const Bytes image = CacheImageOf({{kPathQ, kStamp, 1, 2}, {kPathR, kLongStamp, 3, 4, kDevice}, {kPathP, "", 5, 6}});
    uint32_t state = 12345;
    auto next = [&state]() { return state = state * 1103515245u + 12345u, state >> 8; };
    for (int round = 0; round < 20000; ++round) {
        const std::string path = round % 3 == 0 ? kPathP : round % 3 == 1 ? kPathQ : kPathR;
        Bytes input(1, static_cast<uint8_t>(path.size()));
        input.insert(input.end(), path.begin(), path.end());
        Bytes damaged = image;
        for (uint32_t flips = next() % 4; flips > 0; --flips) damaged[next() % damaged.size()] = next() & 0xFF;
        if (next() % 3 == 0) damaged.resize(next() % (damaged.size() + 1));
        input.insert(input.end(), damaged.begin(), damaged.end());
        ASSERT_EQ(0, LLVMFuzzerTestOneInput(input.data(), input.size())) << "round " << round;
    }
}

}   // namespace
