// The LE packer on its own: reading linked ELF fixtures, writing images, refusing what it
// cannot represent, and the 16-bit version block (read by the tests' version block reader,
// library version_block).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "elf_input.h"
#include "le_image.h"
#include "version_block.h"
#include "version_block_checks.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Fixture(const char* name) {
    return std::string(LE_PACKER_FIXTURES) + "/" + name + ".elf";
}

uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t{b.at(at + 3)} << 24;
}
uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

const std::vector<le::ObjectPlan> kTwoObjects = {{".text", 0x2047}, {".itext", 0x2017}};

le::Module ReadGood() {
    le::Module module;
    module.name = "FIXTURE";
    module.description = "Fixture module";
    module.entryName = "entry";
    std::string error;
    EXPECT_TRUE(le::ReadLinkedElf(ReadFile(Fixture("good")), kTwoObjects, &module, &error)) << error;
    return module;
}

TEST(LePackerElf, TurnsRelocationsIntoFixupsOfTheRightObjects) {
    le::Module module = ReadGood();
    ASSERT_EQ(module.objects.size(), 2u);
    EXPECT_EQ(module.objects[0].base, 0u);
    EXPECT_EQ(module.objects[0].data.size(), 0x1006u);
    EXPECT_EQ(module.objects[0].flags, 0x2047u);
    EXPECT_EQ(module.objects[1].base, 0x100000u);
    EXPECT_EQ(module.objects[1].data.size(), 10u);
    EXPECT_EQ(module.entryObject, 0u);
    EXPECT_EQ(module.entryOffset, 0u);

    struct Expected {
        uint32_t object, offset;
        le::FixupKind kind;
        uint32_t targetObject, targetOffset;
    };
    const Expected expected[] = {
        {0, 0x001, le::FixupKind::kSelfRelative32, 1, 0},   // call init_code
        {0, 0x00C, le::FixupKind::kOffset32, 0, 8},         // entry + 8
        {0, 0x010, le::FixupKind::kOffset32, 1, 0},         // init_code
        {0, 0xFFE, le::FixupKind::kOffset32, 0, 0xB},       // local_code, across the page end
        {1, 0x006, le::FixupKind::kOffset32, 0, 0xC},       // pointer_to_entry
    };
    // The call to local_code, in the same object, needs none.
    ASSERT_EQ(module.fixups.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(module.fixups[i].object, expected[i].object);
        EXPECT_EQ(module.fixups[i].offset, expected[i].offset);
        EXPECT_EQ(module.fixups[i].kind, expected[i].kind);
        EXPECT_EQ(module.fixups[i].targetObject, expected[i].targetObject);
        EXPECT_EQ(module.fixups[i].targetOffset, expected[i].targetOffset);
    }
}

TEST(LePackerElf, RefusesWhatItCannotRepresent) {
    struct Case {
        const char* fixture;
        std::vector<le::ObjectPlan> plan;
        const char* entry;
        std::string message;
    };
    const Case cases[] = {
        {"sixteen_bit", kTwoObjects, "entry", "relocation type 20 at .text+0x1006 cannot be written as an LE fixup"},
        {"huge",
         {{".text", 0x2047}, {".itext", 0x2017}, {".big", 0x2003}},
         "entry",
         "object .big is 2097152 bytes; this packer writes objects of at most 1048576 bytes"},
        {"good", {{".text", 0x2047}}, "entry", "section .itext is not placed in any object"},
        {"good", {{".text", 0x2047}, {".missing", 3}}, "entry", "section .missing is not in the linked file"},
        {"good", kTwoObjects, "missing", "the entry symbol missing is not defined in an object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        le::Module module;
        module.entryName = c.entry;
        std::string error;
        EXPECT_FALSE(le::ReadLinkedElf(ReadFile(Fixture(c.fixture)), c.plan, &module, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    std::string error;
    le::Module module;
    EXPECT_FALSE(le::ReadLinkedElf(std::vector<uint8_t>(10, 0x7F), kTwoObjects, &module, &error));
    EXPECT_EQ(error, "not a 32-bit little-endian ELF file");
}

// A section header that claims no type (0) still says where its bytes lie; when a planned
// section's offset and size point past the end of the file it is refused, not read.
TEST(LePackerElf, RefusesASectionOfAnyTypeWhoseBytesLieOutsideTheFile) {
    std::vector<uint8_t> elf = ReadFile(Fixture("good"));
    ASSERT_GE(elf.size(), 52u);
    const uint32_t table = Dword(elf, 32);
    const uint16_t entrySize = Word(elf, 46), count = Word(elf, 48), names = Word(elf, 50);
    const uint32_t namesOffset = Dword(elf, table + names * entrySize + 16);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) elf.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    };
    bool patched = false;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t header = table + size_t{i} * entrySize;
        const char* name = reinterpret_cast<const char*>(&elf.at(namesOffset + Dword(elf, header)));
        if (std::string(name) != ".itext") continue;
        put(header + 4, 0);                                    // type: none
        put(header + 16, static_cast<uint32_t>(elf.size()));   // offset: the end of the file
        put(header + 20, 0x10000);                             // size: far past it
        patched = true;
    }
    ASSERT_TRUE(patched);
    le::Module module;
    module.entryName = "entry";
    std::string error;
    EXPECT_FALSE(le::ReadLinkedElf(elf, kTwoObjects, &module, &error));
    EXPECT_NE(error.find("lies outside the file"), std::string::npos) << error;
}

TEST(LePackerImage, LaysOutHeaderObjectsPagesNamesAndFixups) {
    le::Module module = ReadGood();
    module.versionResource = {1, 2, 3, 4, 5};
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(le::WriteImage(module, &image, &error)) << error;

    EXPECT_EQ(Word(image, 0), 0x5A4D);
    ASSERT_EQ(Dword(image, 0x3C), 0x80u);
    const size_t h = 0x80;
    EXPECT_EQ(image[h], 'L');
    EXPECT_EQ(image[h + 1], 'E');
    EXPECT_EQ(Word(image, h + 0x08), 2);   // 386
    EXPECT_EQ(Word(image, h + 0x0A), 4);   // Windows virtual device
    EXPECT_EQ(Dword(image, h + 0x10), 0x38000u);
    EXPECT_EQ(Dword(image, h + 0x14), 3u);   // pages: two of object 1, one of object 2
    EXPECT_EQ(Dword(image, h + 0x28), 4096u);
    EXPECT_EQ(Dword(image, h + 0x2C), 10u);   // the last page holds object 2's ten bytes
    EXPECT_EQ(Dword(image, h + 0x44), 2u);
    EXPECT_EQ(Dword(image, h + 0x84), 2u);   // preload pages: object 1's
    EXPECT_EQ(Word(image, h + 0xC0), 0);     // device ID
    EXPECT_EQ(Word(image, h + 0xC2), 0x0400);

    // Object table: size, base, flags, first page, page count.
    const size_t objects = h + Dword(image, h + 0x40);
    EXPECT_EQ(Dword(image, objects + 0), 0x1006u);
    EXPECT_EQ(Dword(image, objects + 4), 0u);
    EXPECT_EQ(Dword(image, objects + 8), 0x2047u);
    EXPECT_EQ(Dword(image, objects + 12), 1u);
    EXPECT_EQ(Dword(image, objects + 16), 2u);
    EXPECT_EQ(Dword(image, objects + 24 + 4), 0x100000u);
    EXPECT_EQ(Dword(image, objects + 24 + 8), 0x2017u);
    EXPECT_EQ(Dword(image, objects + 24 + 12), 3u);
    EXPECT_EQ(Dword(image, objects + 24 + 16), 1u);
    const size_t pageMap = h + Dword(image, h + 0x48);
    for (uint8_t page = 1; page <= 3; ++page)
        EXPECT_EQ(Dword(image, pageMap + 4 * (page - 1)), uint32_t{page} << 16);   // 00 00 nn 00

    // Names and the entry.
    const size_t names = h + Dword(image, h + 0x58);
    EXPECT_EQ(std::string(image.begin() + names, image.begin() + names + 18), std::string("\x07"
                                                                                          "FIXTURE\0\0\x05"
                                                                                          "entry\x01\0\0",
                                                                                          18));
    const size_t entries = h + Dword(image, h + 0x5C);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + entries, image.begin() + entries + 10),
              (std::vector<uint8_t>{1, 3, 1, 0, 3, 0, 0, 0, 0, 0}));
    const size_t nonresident = Dword(image, h + 0x88);
    EXPECT_EQ(image.at(nonresident), 14);
    EXPECT_EQ(std::string(image.begin() + nonresident + 1, image.begin() + nonresident + 15), "Fixture module");
    EXPECT_EQ(Dword(image, h + 0x8C), 18u);

    // Data pages: object 1 padded to whole pages, then object 2.
    const size_t data = Dword(image, h + 0x80);
    EXPECT_EQ(image.at(data), 0xE8);              // call
    EXPECT_EQ(image.at(data + 2 * 4096), 0xB8);   // mov eax, 1

    // Fixups per page, the straddling one in pages 1 and 2.
    const size_t pageTable = h + Dword(image, h + 0x68);
    const size_t records = h + Dword(image, h + 0x6C);
    auto pageRecords = [&](int page) {
        return std::vector<uint8_t>(image.begin() + records + Dword(image, pageTable + 4 * page),
                                    image.begin() + records + Dword(image, pageTable + 4 * (page + 1)));
    };
    EXPECT_EQ(pageRecords(0), (std::vector<uint8_t>{0x08, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00,   // self-relative to 2:0
                                                    0x07, 0x00, 0x0C, 0x00, 0x01, 0x08, 0x00,   // 1:8
                                                    0x07, 0x00, 0x10, 0x00, 0x02, 0x00, 0x00,   // 2:0
                                                    0x07, 0x00, 0xFE, 0x0F, 0x01, 0x0B, 0x00}));   // 1:B
    EXPECT_EQ(pageRecords(1), (std::vector<uint8_t>{0x07, 0x00, 0xFE, 0xFF, 0x01, 0x0B, 0x00}));
    EXPECT_EQ(pageRecords(2), (std::vector<uint8_t>{0x07, 0x00, 0x06, 0x00, 0x01, 0x0C, 0x00}));

    // The version resource: its 12-byte header, then the block.
    const size_t resource = Dword(image, h + 0xB8);
    EXPECT_EQ(Dword(image, h + 0xBC), 17u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + resource, image.begin() + resource + 17),
              (std::vector<uint8_t>{0xFF, 0x10, 0x00, 0xFF, 0x01, 0x00, 0x30, 0x00, 5, 0, 0, 0, 1, 2, 3, 4, 5}));
}

TEST(LePackerImage, RefusesAnObjectTooLargeAndBrokenFixups) {
    le::Module module = ReadGood();
    std::vector<uint8_t> image;
    std::string error;

    le::Module large = module;
    large.objects[1].data.assign(le::kMaxObjectSize + 1, 0x90);
    large.objects[1].virtualSize = le::kMaxObjectSize + 1;
    EXPECT_FALSE(le::WriteImage(large, &image, &error));
    EXPECT_EQ(error, "object .itext is 1048577 bytes; this packer writes objects of at most 1048576 bytes");
    EXPECT_TRUE(image.empty());

    le::Module outside = module;
    outside.fixups.push_back({1, 8, le::FixupKind::kOffset32, 0, 0});   // 8 + 4 > 10 bytes
    EXPECT_FALSE(le::WriteImage(outside, &image, &error));
    EXPECT_EQ(error, "fixup at .itext+0x8 lies outside the object's data");

    le::Module badTarget = module;
    badTarget.fixups.push_back({0, 0, le::FixupKind::kOffset32, 1, 11});
    EXPECT_FALSE(le::WriteImage(badTarget, &image, &error));
    EXPECT_EQ(error, "fixup at .text+0x0 points outside its target object");
}

TEST(LePackerTool, RefusesWithAClearMessageAndWritesNothing) {
    std::string output = std::string(LE_PACKER_FIXTURES) + "/refused.vxd";
    std::remove(output.c_str());
    std::string log = output + ".log";
    std::string command = std::string(LE_PACKER_EXECUTABLE) + " --input " + Fixture("sixteen_bit") + " --output " +
                          output +
                          " --module-name X --description Y --entry entry --object .text=0x2047"
                          " --object .itext=0x2017 2>" +
                          log;
    EXPECT_NE(std::system(command.c_str()), 0);
    std::vector<uint8_t> message = ReadFile(log);
    EXPECT_NE(std::string(message.begin(), message.end()).find("le_packer: "), std::string::npos);
    EXPECT_NE(std::string(message.begin(), message.end()).find("relocation type 20"), std::string::npos);
    EXPECT_TRUE(ReadFile(output).empty());
    std::ifstream absent(output);
    EXPECT_FALSE(absent.good());
}

TEST(LePackerVersion, BuildsTheSixteenBitBlock) {
    le::VersionInfo info;
    info.fileVersionMs = 0x00040000;
    info.fileVersionLs = 0x000003B6;
    info.productVersionMs = 0x00040000;
    info.productVersionLs = 0x000003B6;
    info.fileFlagsMask = 0x3F;
    info.fileOs = 0x00010001;
    info.fileType = 5;
    info.strings = {{"ProductVersion", "Version 1.00"}, {"InternalName", "HA"}};
    std::vector<uint8_t> block = le::BuildVersionBlock(info);

    version_block::PackedBlock read;
    ASSERT_NO_FATAL_FAILURE(version_block::ReadPackedBlock(
        block, {0xFEEF04BD, 0x00010000, 0x00040000, 0x3B6, 0x00040000, 0x3B6, 0x3F, 0, 0x00010001, 5, 0, 0, 0}, &read));
    EXPECT_EQ(read.root.value, 20u);
    const std::vector<version_block::Node>& tables = read.tables;
    const std::vector<version_block::Node>& entries = read.entries;
    EXPECT_EQ(tables[0].end, read.infos[0].end);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, "ProductVersion");
    EXPECT_EQ(entries[0].valueLength, 13);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[entries[0].value])), "Version 1.00");
    EXPECT_EQ(entries[1].key, "InternalName");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[entries[1].value])), "HA");
    EXPECT_EQ(entries[1].end, tables[0].end);

    const std::vector<version_block::Node>& variables = read.variables;
    EXPECT_EQ(variables[0].valueLength, 4);
    EXPECT_EQ(Dword(block, variables[0].value), 0x04E40409u);
    EXPECT_EQ(variables[0].end, block.size());
}

}   // namespace
