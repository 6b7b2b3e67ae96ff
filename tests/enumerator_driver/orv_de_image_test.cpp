// The built enumerator driver image, read as bytes: the descriptor block that entry
// ordinal 1 points at, the fixups that the loader needs for it, and the version resource.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "version_block.h"
#include "version_block_checks.h"

namespace {

std::vector<uint8_t> Image() {
    std::ifstream in(ORV_DE_IMAGE, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t{b.at(at + 3)} << 24;
}
uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

constexpr size_t kHeader = 0x80;

// The descriptor block's signature is the multi-character constant 'Prev' as the platform's
// assembler and C compiler write it: the first character in the most significant byte, so the
// file holds the bytes "verP".
constexpr uint32_t kPrevSignature = uint32_t{'P'} << 24 | uint32_t{'r'} << 16 | uint32_t{'e'} << 8 | uint32_t{'v'};
static_assert(kPrevSignature == 0x50726576u, "'Prev', first character most significant");

TEST(OrvDeImage, EntryOrdinalOnePointsAtTheDescriptorBlock) {
    std::vector<uint8_t> image = Image();
    ASSERT_GT(image.size(), 0x200u);
    const size_t entries = kHeader + Dword(image, kHeader + 0x5C);
    ASSERT_EQ(image.at(entries), 1);          // one entry
    ASSERT_EQ(image.at(entries + 1), 3);      // 32-bit
    ASSERT_EQ(Word(image, entries + 2), 1);   // in object 1
    const uint32_t ddb = Dword(image, entries + 5);
    const size_t data = Dword(image, kHeader + 0x80);
    const size_t block = data + ddb;   // object 1 starts at the first data page

    EXPECT_EQ(Dword(image, block + 0x00), 0u);      // DDB_Next
    EXPECT_EQ(Word(image, block + 0x04), 0x0400);   // DDB_SDK_Version
    EXPECT_EQ(Word(image, block + 0x06), 0);        // DDB_Req_Device_Number
    EXPECT_EQ(image[block + 0x08], 1);              // major
    EXPECT_EQ(image[block + 0x09], 0);              // minor
    EXPECT_EQ(Word(image, block + 0x0A), 0);        // DDB_Flags
    EXPECT_EQ(std::string(image.begin() + block + 0x0C, image.begin() + block + 0x14), "ORV_DE  ");
    EXPECT_EQ(Dword(image, block + 0x14), 0x80000000u);      // DDB_Init_Order
    EXPECT_EQ(Dword(image, block + 0x34), 0u);               // DDB_Service_Table_Size
    EXPECT_EQ(Dword(image, block + 0x3C), kPrevSignature);   // DDB_Prev
    EXPECT_EQ(std::string(image.begin() + block + 0x3C, image.begin() + block + 0x40), "verP");
    for (size_t field : {0x24u, 0x28u, 0x2Cu, 0x38u, 0x40u, 0x44u, 0x48u, 0x4Cu})
        EXPECT_EQ(Dword(image, block + field), 0u) << field;

    // The four pointers of the block (control procedure, two API entry points, service
    // table) each have an absolute fixup into object 1.
    const size_t pageTable = kHeader + Dword(image, kHeader + 0x68);
    const size_t records = kHeader + Dword(image, kHeader + 0x6C);
    std::map<uint32_t, uint32_t> absolute;   // source offset in object 1 -> target offset
    for (size_t at = records + Dword(image, pageTable); at < records + Dword(image, pageTable + 4);) {
        uint8_t source = image[at], flags = image[at + 1];
        int16_t offset = static_cast<int16_t>(Word(image, at + 2));
        uint8_t object = image[at + 4];
        uint32_t target = (flags & 0x10) ? Dword(image, at + 5) : Word(image, at + 5);
        if (source == 0x07 && object == 1) absolute[static_cast<uint32_t>(offset)] = target;
        at += (flags & 0x10) ? 9 : 7;
    }
    for (uint32_t field : {0x18u, 0x1Cu, 0x20u, 0x30u}) {
        ASSERT_EQ(absolute.count(ddb + field), 1u) << field;
        EXPECT_EQ(absolute[ddb + field], Dword(image, block + field)) << field;
    }
    EXPECT_EQ(Dword(image, block + 0x1C), Dword(image, block + 0x20));   // one API entry
    EXPECT_EQ(image.at(data + Dword(image, block + 0x1C)), 0xC3);        // that returns at once
}

// The version resource: its 12-byte header (type, name, size), then the 16-bit version block.
TEST(OrvDeImage, CarriesItsVersionResource) {
    using version_block::Node;
    std::vector<uint8_t> image = Image();
    const size_t resource = Dword(image, kHeader + 0xB8);
    const uint32_t length = Dword(image, kHeader + 0xBC);
    ASSERT_GT(length, 12u);
    ASSERT_LE(resource + length, image.size());
    EXPECT_EQ(image[resource], 0xFF);
    EXPECT_EQ(Word(image, resource + 1), 16);   // RT_VERSION
    EXPECT_EQ(image[resource + 3], 0xFF);
    EXPECT_EQ(Word(image, resource + 4), 1);
    EXPECT_EQ(Dword(image, resource + 8), length - 12);

    const std::vector<uint8_t> block(image.begin() + resource + 12, image.begin() + resource + length);
    version_block::PackedBlock read;
    ASSERT_NO_FATAL_FAILURE(version_block::ReadPackedBlock(
        block, {0xFEEF04BD, 0x00010000, 0x00040000, 0x000003B6, 0x00040000, 0x000003B6, 0x3F, 0, 0x00010001, 5, 0},
        &read));
    std::vector<std::pair<std::string, std::string>> strings;
    for (const Node& entry : read.entries) {
        strings.emplace_back(entry.key, reinterpret_cast<const char*>(&block[entry.value]));
        EXPECT_EQ(entry.valueLength, strings.back().second.size() + 1);
    }
    ASSERT_EQ(strings.size(), 8u);
    const std::pair<std::string, std::string> required[] = {{"ProductVersion", "Version 1.00"},
                                                            {"ProductName", "ORV Driver Enumerator for QELM"},
                                                            {"InternalName", "HA"},
                                                            {"FileVersion", "Version 1.00"},
                                                            {"FileDescription", "Win95/98 Driver Enumerator"}};
    for (size_t i = 0; i < std::size(required); ++i) EXPECT_EQ(strings[i], required[i]);

    EXPECT_EQ(Word(block, read.variables[0].value), 0x0409);
    EXPECT_EQ(Word(block, read.variables[0].value + 2), 0x04E4);
}

}   // namespace
