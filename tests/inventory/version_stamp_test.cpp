// Version stamps read through the platform's version functions from driver files made by the
// fixture builder: the exchange rule, wide numbers, and files without usable version
// information.
#include "version_stamp.h"

#include <gtest/gtest.h>

#include <string>

#include "driver_file_image.h"
#include "driver_machine.h"

namespace {

using driver_fixtures::BuildPeClaimingVersionSize;
using driver_fixtures::BuildPeWithoutFixedInfo;
using driver_fixtures::BuildVersionedNe;
using driver_fixtures::BuildVersionedPe;
using driver_fixtures::FileVersion;
using driver_fixtures::PlacedFiles;
using driver_fixtures::UtcFileTime;

std::string ScratchDirectory() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    return std::string(temp) + "brantovix_version_stamp_" + std::to_string(GetCurrentProcessId());
}

std::string Stamp(const std::string& path, StampRead* result) {
    char stamp[128];
    lstrcpyA(stamp, "sentinel");
    *result = ReadVersionStamp(path.c_str(), stamp);
    return stamp;
}

TEST(VersionStamp, ExchangeRuleAndNumberWidths) {
    const struct {
        FileVersion version;
        const char* stamp;
    } cases[] = {
        {{4, 10, 0, 2222}, "04.10.00.2222"},     // third number 0: kept
        {{4, 10, 1999, 0}, "04.10.00.1999"},     // 1999 > 99 and 0 <= 99: exchanged
        {{5, 0, 2195, 1}, "05.00.01.2195"},      // exchanged
        {{4, 10, 100, 100}, "04.10.100.0100"},   // both 100: kept, 14 characters
        {{4, 10, 99, 100}, "04.10.99.0100"},     // 99 is not above 99: kept
        {{4, 10, 100, 99}, "04.10.99.0100"},     // the edge the other way: exchanged
        {{0, 0, 0, 0}, "00.00.00.0000"},
        {{123, 4, 5, 12345}, "123.04.05.12345"},
        {{65535, 65535, 65535, 65535}, "65535.65535.65535.65535"},   // the longest, 23 characters
    };
    PlacedFiles files;
    const FILETIME time = UtcFileTime(1999, 5, 5, 12, 0);
    int index = 0;
    for (const auto& c : cases) {
        const std::string path = files.Place(ScratchDirectory(), "STAMP" + std::to_string(index++) + ".VXD",
                                             BuildVersionedPe(c.version), time);
        ASSERT_FALSE(path.empty());
        StampRead result = StampRead::kNotNow;
        EXPECT_EQ(c.stamp, Stamp(path, &result)) << path;
        EXPECT_EQ(StampRead::kStamped, result) << path;
    }
}

TEST(VersionStamp, SixteenBitFileUnderADriverName) {
    PlacedFiles files;
    const std::string path =
        files.Place(ScratchDirectory(), "NE16.DRV", BuildVersionedNe({4, 0, 950, 3}), UtcFileTime(1998, 4, 23, 20, 1));
    ASSERT_FALSE(path.empty());
    StampRead result = StampRead::kNotNow;
    EXPECT_EQ("04.00.03.0950", Stamp(path, &result));
    EXPECT_EQ(StampRead::kStamped, result);
}

TEST(VersionStamp, NoUsableVersionInformationGivesAnEmptyStamp) {
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    std::vector<uint8_t> truncated = BuildVersionedPe({4, 10, 0, 2222});
    truncated.resize(0x180);   // headers without the resource section
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"EMPTY.SYS", {}},
        {"TEXT.386", text},
        {"NOFIXED.VXD", BuildPeWithoutFixedInfo()},   // root value length 0
        {"CUT.WDM", truncated},
        // A resource that claims far more than a version block can hold (its length is a
        // 16-bit word): no version, rather than a read that runs out of memory.
        {"CLAIMS.SYS", BuildPeClaimingVersionSize({4, 10, 0, 2222}, 0x7FFF0000u)},
        {"CLAIMS64K.SYS", BuildPeClaimingVersionSize({4, 10, 0, 2222}, 0x10001u)},
    };
    PlacedFiles files;
    for (const auto& c : cases) {
        const std::string path = files.Place(ScratchDirectory(), c.name, c.bytes, UtcFileTime(1999, 5, 5, 12, 0));
        ASSERT_FALSE(path.empty());
        if (c.bytes == BuildPeWithoutFixedInfo()) {
            // The platform does find a version block: the fixed information's absence empties it.
            DWORD handle = 0;
            EXPECT_NE(0u, GetFileVersionInfoSizeA(path.c_str(), &handle));
        }
        StampRead result = StampRead::kNotNow;
        EXPECT_EQ("", Stamp(path, &result)) << c.name;
        EXPECT_EQ(StampRead::kNoVersion, result) << c.name;
    }
    StampRead result = StampRead::kNotNow;
    EXPECT_EQ("", Stamp(ScratchDirectory() + "\\MISSING.VXD", &result));
    EXPECT_EQ(StampRead::kNoVersion, result);
}

}   // namespace
