// The enumerator driver image as a file of bytes, for tests that hand a loader a damaged copy:
// reading and writing it, and where in the file the descriptor block lies.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace driver_image_file {

inline std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t{b.at(at + 3)} << 24;
}

// The file offset of the descriptor block: entry ordinal 1 (a 32-bit entry in object 1) gives
// its offset in object 1, whose first page is the image's first data page. 0 when the image
// is not laid out so.
inline size_t DescriptorBlockOffset(const std::vector<uint8_t>& b) {
    if (b.size() < 0x40) return 0;
    const size_t header = Dword(b, 0x3C);
    if (b.size() < header + 0xC4) return 0;
    const size_t entries = header + Dword(b, header + 0x5C);
    if (b.size() < entries + 9 || b[entries] == 0 || b[entries + 1] != 3 || b[entries + 2] != 1 || b[entries + 3] != 0)
        return 0;
    const size_t block = Dword(b, header + 0x80) + Dword(b, entries + 5);
    return block + 80 <= b.size() ? block : 0;
}

// Offset of DDB_Prev in the descriptor block.
constexpr size_t kDdbPrev = 0x3C;

}   // namespace driver_image_file
