// Reads a 16-bit version block (the version resource of an LE image, as the LE packer writes
// it), node by node. Each node:
//   offset 0, 2 bytes  its length in bytes, its children included
//   offset 2, 2 bytes  the length of its value in bytes
//   offset 4           its key, zero-terminated
//   then               its value, on the next 32-bit boundary
//   then               its children, each on the next 32-bit boundary after the one before
// The boundaries are measured from the start of the resource, not from the start of the file
// that holds it: offsets here count from the first byte of the block.
#ifndef BRANTOVIX_VERSION_BLOCK_H
#define BRANTOVIX_VERSION_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace version_block {

struct Node {
    size_t start = 0;   // where the node begins
    uint16_t length = 0;
    uint16_t valueLength = 0;
    std::string key;
    size_t value = 0;   // where its value begins
    size_t end = 0;     // start + length
};

// The next 32-bit boundary at or after offset.
inline size_t Aligned(size_t offset) {
    return (offset + 3) / 4 * 4;
}

// The node at `at` of `block`; false when its header, key or length run past the block.
bool ReadNode(const std::vector<uint8_t>& block, size_t at, Node* node);

// The node's children in order: the first after its value, each next after the one before.
// False when one of them cannot be read or runs past its parent.
bool ReadChildren(const std::vector<uint8_t>& block, const Node& parent, std::vector<Node>* children);

}   // namespace version_block

#endif
