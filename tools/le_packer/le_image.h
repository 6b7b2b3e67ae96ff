// The LE image writer: lays out a Windows virtual device driver (an LE executable) from
// objects, fixups, names and a version resource.
#ifndef BRANTOVIX_LE_IMAGE_H
#define BRANTOVIX_LE_IMAGE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace le {

constexpr uint32_t kPageSize = 4096;
// The largest object this packer writes. Every page of an object is stored in the file and
// mapped by the loader; a driver of this kind is a few pages, so anything larger means the
// link went wrong.
constexpr uint32_t kMaxObjectSize = 256 * kPageSize;
constexpr uint32_t kHeaderOffset = 0x80;   // the LE header follows the DOS stub
constexpr uint32_t kHeaderSize = 0xC4;
constexpr uint32_t kObjectEntrySize = 24;

// Object flags.
constexpr uint32_t kObjectReadable = 0x0001;
constexpr uint32_t kObjectWritable = 0x0002;
constexpr uint32_t kObjectExecutable = 0x0004;
constexpr uint32_t kObjectDiscardable = 0x0010;
constexpr uint32_t kObjectPreload = 0x0040;
constexpr uint32_t kObject32Bit = 0x2000;

// Fixup source types.
constexpr uint8_t kFixupOffset32 = 0x07;
constexpr uint8_t kFixupSelfRelative32 = 0x08;

struct Object {
    std::string name;    // for messages only
    uint32_t base = 0;   // the address the object was linked at
    uint32_t flags = 0;
    uint32_t virtualSize = 0;   // at least data.size()
    std::vector<uint8_t> data;
};

enum class FixupKind { kOffset32, kSelfRelative32 };

// A 32-bit location in object `object` (0-based) at `offset` that must hold the address of
// `targetOffset` in object `targetObject` (kOffset32), or the distance to it from the end
// of the location (kSelfRelative32).
struct Fixup {
    uint32_t object = 0;
    uint32_t offset = 0;
    FixupKind kind = FixupKind::kOffset32;
    uint32_t targetObject = 0;
    uint32_t targetOffset = 0;
};

struct Module {
    std::string name;          // resident name table, ordinal 0
    std::string description;   // non-resident name table, ordinal 0
    std::string entryName;     // resident name of ordinal 1
    uint32_t entryObject = 0;
    uint32_t entryOffset = 0;
    uint32_t moduleFlags = 0x00038000;   // dynamically loadable virtual device driver
    uint16_t deviceId = 0;
    uint16_t ddkVersion = 0x0400;
    std::vector<Object> objects;
    std::vector<Fixup> fixups;
    std::vector<uint8_t> versionResource;   // the 16-bit version block; empty: none
};

// Writes the image; on failure returns false with a message in *error and leaves *image
// empty.
bool WriteImage(const Module& module, std::vector<uint8_t>* image, std::string* error);

// The 16-bit VS_VERSION_INFO block of a virtual device driver.
struct VersionInfo {
    uint32_t fileVersionMs = 0, fileVersionLs = 0;
    uint32_t productVersionMs = 0, productVersionLs = 0;
    uint32_t fileFlagsMask = 0, fileFlags = 0;
    uint32_t fileOs = 0, fileType = 0, fileSubtype = 0;
    std::string stringTable = "040904E4";
    std::vector<std::pair<std::string, std::string>> strings;   // in this order
    uint16_t language = 0x0409, codePage = 0x04E4;
};
std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info);

}   // namespace le

#endif
