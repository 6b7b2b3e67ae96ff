#include "driver_file_image.h"

#include <string.h>

#include <string>

namespace driver_fixtures {
namespace {

const uint32_t kFixedInfoSignature = 0xFEEF04BD;
const uint32_t kFixedInfoSize = 52;
const uint32_t kFileTypeDriver = 3;    // VFT_DRV
const uint32_t kFileOsWindows32 = 4;   // VOS__WINDOWS32

class ByteWriter {
public:
    std::vector<uint8_t> bytes;
    size_t size() const { return bytes.size(); }
    void Byte(uint8_t v) { bytes.push_back(v); }
    void Word(uint16_t v) { Byte(static_cast<uint8_t>(v)), Byte(static_cast<uint8_t>(v >> 8)); }
    void Dword(uint32_t v) { Word(static_cast<uint16_t>(v)), Word(static_cast<uint16_t>(v >> 16)); }
    void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void AlignTo(size_t alignment) { Zeros((alignment - size() % alignment) % alignment); }
    void Append(const std::vector<uint8_t>& other) { bytes.insert(bytes.end(), other.begin(), other.end()); }
    void PutWord(size_t at, uint16_t v) {
        bytes[at] = static_cast<uint8_t>(v), bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void PutDword(size_t at, uint32_t v) {
        PutWord(at, static_cast<uint16_t>(v)), PutWord(at + 2, static_cast<uint16_t>(v >> 16));
    }
};

void FixedFileInfo(ByteWriter& out, FileVersion v) {
    const uint32_t ms = static_cast<uint32_t>(v.major) << 16 | v.minor;
    const uint32_t ls = static_cast<uint32_t>(v.third) << 16 | v.fourth;
    out.Dword(kFixedInfoSignature);
    out.Dword(0x00010000);           // structure version 1.0
    out.Dword(ms), out.Dword(ls);    // file version
    out.Dword(ms), out.Dword(ls);    // product version
    out.Dword(0x3F), out.Dword(0);   // flags mask, flags
    out.Dword(kFileOsWindows32), out.Dword(kFileTypeDriver), out.Dword(0);
    out.Dword(0), out.Dword(0);   // file date
}

// 32-bit block: WORD length, WORD value length, WORD type, "VS_VERSION_INFO" in UTF-16 with
// its zero, padding to 4, the fixed information.
std::vector<uint8_t> VersionBlock32(const FileVersion* version, uint32_t paddingBytes) {
    ByteWriter out;
    out.Word(0), out.Word(version ? kFixedInfoSize : 0), out.Word(0);
    for (char c : std::string("VS_VERSION_INFO")) out.Word(static_cast<uint8_t>(c));
    out.Word(0);
    out.AlignTo(4);
    if (version) FixedFileInfo(out, *version);
    out.Zeros(paddingBytes);
    out.PutWord(0, static_cast<uint16_t>(out.size()));
    return out.bytes;
}

// 16-bit block: WORD length, WORD value length, "VS_VERSION_INFO" in ANSI with its zero,
// padding to 4, the fixed information.
std::vector<uint8_t> VersionBlock16(FileVersion version) {
    ByteWriter out;
    out.Word(0), out.Word(kFixedInfoSize);
    for (char c : std::string("VS_VERSION_INFO")) out.Byte(static_cast<uint8_t>(c));
    out.Byte(0);
    out.AlignTo(4);
    FixedFileInfo(out, version);
    out.PutWord(0, static_cast<uint16_t>(out.size()));
    return out.bytes;
}

// `claimedSize`, when not 0, is written as the resource's size in place of the block's.
std::vector<uint8_t> BuildPe(const std::vector<uint8_t>& versionBlock, uint32_t claimedSize = 0) {
    const uint32_t kFileAlignment = 0x200, kSectionAlignment = 0x1000, kResourceRva = 0x1000;

    // Resource section: type directory (RT_VERSION), name directory (1), language directory
    // (0x0409), data entry, data.
    ByteWriter rsrc;
    auto directory = [&rsrc](uint32_t id, uint32_t target) {
        rsrc.Dword(0), rsrc.Dword(0), rsrc.Word(0), rsrc.Word(0);   // flags, time, version
        rsrc.Word(0), rsrc.Word(1);                                 // named, id entries
        rsrc.Dword(id), rsrc.Dword(target);
    };
    directory(16, 0x80000000u | 24);
    directory(1, 0x80000000u | 48);
    directory(0x0409, 72);
    const uint32_t dataOffset = 88;
    rsrc.Dword(kResourceRva + dataOffset),
        rsrc.Dword(claimedSize ? claimedSize : static_cast<uint32_t>(versionBlock.size()));
    rsrc.Dword(0), rsrc.Dword(0);
    rsrc.Append(versionBlock);
    const uint32_t rsrcSize = static_cast<uint32_t>(rsrc.size());
    rsrc.AlignTo(kFileAlignment);

    ByteWriter pe;
    pe.Word(0x5A4D);   // "MZ"
    pe.Zeros(0x3C - 2);
    pe.Dword(0x40);         // e_lfanew
    pe.Dword(0x00004550);   // "PE\0\0"
    // File header: i386, one section, optional header of 224 bytes, executable 32-bit DLL.
    pe.Word(0x014C), pe.Word(1), pe.Dword(0), pe.Dword(0), pe.Dword(0), pe.Word(224), pe.Word(0x2102);
    // Optional header.
    pe.Word(0x010B), pe.Byte(2), pe.Byte(0);
    pe.Dword(0), pe.Dword(rsrc.size()), pe.Dword(0);               // code, initialised, uninitialised data
    pe.Dword(0), pe.Dword(kResourceRva), pe.Dword(kResourceRva);   // entry, code base, data base
    pe.Dword(0x10000000), pe.Dword(kSectionAlignment), pe.Dword(kFileAlignment);
    pe.Word(4), pe.Word(0), pe.Word(0), pe.Word(0), pe.Word(4), pe.Word(0);   // OS, image, subsystem versions
    pe.Dword(0);
    const uint32_t imageSize =
        kResourceRva + (rsrcSize + kSectionAlignment - 1) / kSectionAlignment * kSectionAlignment;
    pe.Dword(imageSize), pe.Dword(kFileAlignment), pe.Dword(0);   // image size, headers size, checksum
    pe.Word(2), pe.Word(0);                                       // Windows GUI subsystem, no DLL characteristics
    pe.Dword(0x100000), pe.Dword(0x1000), pe.Dword(0x100000), pe.Dword(0x1000);
    pe.Dword(0), pe.Dword(16);
    for (uint32_t i = 0; i < 16; ++i) {
        if (i == 2)
            pe.Dword(kResourceRva), pe.Dword(rsrcSize);
        else
            pe.Dword(0), pe.Dword(0);
    }
    // Section header ".rsrc": initialised, readable data.
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (char c : name) pe.Byte(static_cast<uint8_t>(c));
    pe.Dword(rsrcSize), pe.Dword(kResourceRva), pe.Dword(rsrc.size()), pe.Dword(kFileAlignment);
    pe.Dword(0), pe.Dword(0), pe.Word(0), pe.Word(0), pe.Dword(0x40000040);
    pe.AlignTo(kFileAlignment);
    pe.Append(rsrc.bytes);
    return pe.bytes;
}

}   // namespace

std::vector<uint8_t> BuildVersionedPe(FileVersion version, uint32_t paddingBytes) {
    return BuildPe(VersionBlock32(&version, paddingBytes));
}

std::vector<uint8_t> BuildPeClaimingVersionSize(FileVersion version, uint32_t claimedSize) {
    return BuildPe(VersionBlock32(&version, 0), claimedSize);
}

std::vector<uint8_t> BuildPeWithoutFixedInfo() {
    return BuildPe(VersionBlock32(nullptr, 0));
}

std::vector<uint8_t> BuildVersionedNe(FileVersion version) {
    const std::vector<uint8_t> block = VersionBlock16(version);
    const uint16_t kShift = 4;   // resource offsets and lengths in units of 16 bytes
    const uint32_t kNeOffset = 0x40, kNeHeaderSize = 0x40;

    // Resource table: alignment shift, one type (RT_VERSION | 0x8000) with one resource
    // (ordinal 1 | 0x8000), the end of types, the end of names.
    ByteWriter table;
    table.Word(kShift);
    table.Word(0x8010), table.Word(1), table.Dword(0);
    const size_t offsetField = table.size();
    table.Word(0), table.Word(static_cast<uint16_t>((block.size() + 15) >> kShift));
    table.Word(0x0030), table.Word(0x8001), table.Word(0), table.Word(0);   // moveable, pure; id 1
    table.Word(0);
    table.Byte(0);

    ByteWriter ne;
    ne.Word(0x5A4D);
    ne.Zeros(0x3C - 2);
    ne.Dword(kNeOffset);
    const size_t header = ne.size();
    ne.Zeros(kNeHeaderSize);
    const size_t tableAt = ne.size();
    ne.Append(table.bytes);
    ne.AlignTo(1u << kShift);
    const size_t dataAt = ne.size();
    ne.Append(block);
    ne.AlignTo(1u << kShift);
    ne.PutWord(tableAt + offsetField, static_cast<uint16_t>(dataAt >> kShift));

    // NE header: signature, linker version, and the offsets (from the header) of the entry,
    // segment, resource, resident name, module reference and imported name tables, all empty
    // but the resource table (the empty ones point at the zero padding behind it); target OS 2
    // (Windows), expected Windows version 3.10.
    const uint16_t tableOffset = static_cast<uint16_t>(tableAt - header);
    const uint16_t afterTable = static_cast<uint16_t>(tableOffset + table.size());
    ne.PutWord(header + 0x00, 0x454E);   // "NE"
    ne.PutWord(header + 0x02, 0x0105);
    ne.PutWord(header + 0x04, afterTable);      // entry table
    ne.PutWord(header + 0x0C, 0x8000);          // library module
    ne.PutWord(header + 0x22, kNeHeaderSize);   // segment table (empty)
    ne.PutWord(header + 0x24, tableOffset);     // resource table
    ne.PutWord(header + 0x26, afterTable);      // resident names
    ne.PutWord(header + 0x28, afterTable);      // module references
    ne.PutWord(header + 0x2A, afterTable);      // imported names
    ne.PutWord(header + 0x32, kShift);
    ne.bytes[header + 0x36] = 2;
    ne.PutWord(header + 0x3E, 0x030A);
    return ne.bytes;
}

}   // namespace driver_fixtures
