#include "version_block.h"

namespace version_block {

bool ReadNode(const std::vector<uint8_t>& block, size_t at, Node* node) {
    *node = Node();
    if (at + 4 > block.size()) return false;
    node->start = at;
    node->length = static_cast<uint16_t>(block[at] | block[at + 1] << 8);
    node->valueLength = static_cast<uint16_t>(block[at + 2] | block[at + 3] << 8);
    node->end = at + node->length;
    if (node->end > block.size()) return false;
    size_t p = at + 4;
    while (p < node->end && block[p]) node->key.push_back(static_cast<char>(block[p++]));
    if (p >= node->end) return false;   // no terminator inside the node
    node->value = Aligned(p + 1);
    return node->value + node->valueLength <= node->end;
}

bool ReadChildren(const std::vector<uint8_t>& block, const Node& parent, std::vector<Node>* children) {
    children->clear();
    for (size_t at = Aligned(parent.value + parent.valueLength); at < parent.end;) {
        Node child;
        if (!ReadNode(block, at, &child) || child.length == 0 || child.end > parent.end) return false;
        children->push_back(child);
        at = Aligned(child.end);
    }
    return true;
}

}   // namespace version_block
