// The layout every 16-bit version block of an LE image has, as the LE packer writes it, read and
// checked node by node for the tests of the packer and of the built image:
//   VS_VERSION_INFO                the whole block; its value the 52-byte fixed information
//     StringFileInfo               one string table, its entries the version strings
//       040904E4
//     VarFileInfo
//       Translation
// What the nodes hold beyond that is each test's own to check.
#ifndef BRANTOVIX_VERSION_BLOCK_CHECKS_H
#define BRANTOVIX_VERSION_BLOCK_CHECKS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "version_block.h"

namespace version_block {

struct PackedBlock {
    Node root;
    std::vector<Node> infos;       // StringFileInfo, VarFileInfo
    std::vector<Node> tables;      // StringFileInfo's string table
    std::vector<Node> entries;     // the table's strings, in order
    std::vector<Node> variables;   // VarFileInfo's Translation
};

// Reads `block` into *read, checking the layout above and that the fixed information begins with
// the DWORDs of `fixed`. Stops at the first node that is missing; call it through
// ASSERT_NO_FATAL_FAILURE.
inline void ReadPackedBlock(const std::vector<uint8_t>& block, const std::vector<uint32_t>& fixed, PackedBlock* read) {
    ASSERT_TRUE(ReadNode(block, 0, &read->root));
    EXPECT_EQ(read->root.key, "VS_VERSION_INFO");
    EXPECT_EQ(read->root.length, block.size());
    ASSERT_EQ(read->root.valueLength, 52);
    for (size_t i = 0; i < fixed.size(); ++i) {
        const size_t at = read->root.value + 4 * i;
        const uint32_t value =
            block.at(at) | block.at(at + 1) << 8 | block.at(at + 2) << 16 | uint32_t{block.at(at + 3)} << 24;
        EXPECT_EQ(value, fixed[i]) << i;
    }

    ASSERT_TRUE(ReadChildren(block, read->root, &read->infos));
    ASSERT_EQ(read->infos.size(), 2u);
    EXPECT_EQ(read->infos[0].key, "StringFileInfo");
    ASSERT_TRUE(ReadChildren(block, read->infos[0], &read->tables));
    ASSERT_EQ(read->tables.size(), 1u);
    EXPECT_EQ(read->tables[0].key, "040904E4");
    ASSERT_TRUE(ReadChildren(block, read->tables[0], &read->entries));

    EXPECT_EQ(read->infos[1].key, "VarFileInfo");
    ASSERT_TRUE(ReadChildren(block, read->infos[1], &read->variables));
    ASSERT_EQ(read->variables.size(), 1u);
    EXPECT_EQ(read->variables[0].key, "Translation");
}

}   // namespace version_block

#endif
