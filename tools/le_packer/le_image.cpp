#include "le_image.h"

#include <algorithm>
#include <cstdio>

namespace le {
namespace {

class Bytes {
public:
    explicit Bytes(std::vector<uint8_t>* out) : out_(out) {}
    uint32_t Size() const { return static_cast<uint32_t>(out_->size()); }
    void Byte(uint8_t v) { out_->push_back(v); }
    void Word(uint16_t v) {
        Byte(v & 0xFF);
        Byte(v >> 8);
    }
    void Dword(uint32_t v) {
        Word(v & 0xFFFF);
        Word(v >> 16);
    }
    void Text(const std::string& s) { out_->insert(out_->end(), s.begin(), s.end()); }
    void Append(const std::vector<uint8_t>& v) { out_->insert(out_->end(), v.begin(), v.end()); }
    void PadTo(uint32_t size) {
        if (size > Size()) out_->resize(size, 0);
    }
    void Align(uint32_t n) { PadTo((Size() + n - 1) / n * n); }
    void PutDword(uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) (*out_)[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void PutWord(uint32_t at, uint16_t v) {
        (*out_)[at] = v & 0xFF;
        (*out_)[at + 1] = v >> 8;
    }

private:
    std::vector<uint8_t>* out_;
};

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// A length-prefixed name with its ordinal, as the name tables hold them.
bool PutName(Bytes* out, const std::string& name, uint16_t ordinal, std::string* error) {
    if (name.empty() || name.size() > 127) {
        *error = "name \"" + name + "\" must have 1 to 127 characters";
        return false;
    }
    out->Byte(static_cast<uint8_t>(name.size()));
    out->Text(name);
    out->Word(ordinal);
    return true;
}

// The DOS stub: a program that says what the file is and ends.
void PutDosStub(Bytes* out) {
    static const char kMessage[] = "This is a Windows virtual device driver.\r\n$";
    out->Word(0x5A4D);          // "MZ"
    out->Word(kHeaderOffset);   // bytes on the last page
    out->Word(1);               // pages
    out->Word(0);               // relocations
    out->Word(4);               // header paragraphs
    out->Word(0);               // minimum extra paragraphs
    out->Word(0xFFFF);          // maximum extra paragraphs
    out->Word(0);               // SS
    out->Word(0xB8);            // SP
    out->Word(0);               // checksum
    out->Word(0);               // IP
    out->Word(0);               // CS
    out->Word(0x40);            // relocation table offset: a new-format executable
    out->Word(0);               // overlay
    out->PadTo(0x3C);
    out->Dword(kHeaderOffset);
    static const uint8_t kCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    for (uint8_t b : kCode) out->Byte(b);
    out->Text(kMessage);
    out->PadTo(kHeaderOffset);
}

}   // namespace

bool WriteImage(const Module& module, std::vector<uint8_t>* image, std::string* error) {
    image->clear();
    std::vector<uint8_t> outBytes;
    Bytes out(&outBytes);

    if (module.objects.empty()) {
        *error = "the module has no objects";
        return false;
    }
    if (module.entryObject >= module.objects.size() ||
        module.entryOffset >= module.objects[module.entryObject].virtualSize) {
        *error = "the entry point lies outside its object";
        return false;
    }

    // Pages: every object's data in 4096-byte pages, object after object.
    std::vector<uint32_t> firstPage;   // 0-based page index of each object's first page
    uint32_t pages = 0, preloadPages = 0;
    for (const Object& object : module.objects) {
        if (object.data.size() > kMaxObjectSize || object.virtualSize > kMaxObjectSize) {
            *error = "object " + object.name + " is " +
                     std::to_string(std::max<size_t>(object.data.size(), object.virtualSize)) +
                     " bytes; this packer writes objects of at most " + std::to_string(kMaxObjectSize) + " bytes";
            return false;
        }
        if (object.virtualSize < object.data.size()) {
            *error = "object " + object.name + " has more data than its size";
            return false;
        }
        firstPage.push_back(pages);
        uint32_t objectPages = static_cast<uint32_t>((object.data.size() + kPageSize - 1) / kPageSize);
        pages += objectPages;
        if (object.flags & kObjectPreload) preloadPages += objectPages;
    }

    // Fixup records, grouped by the page that holds their source. A 32-bit source that runs
    // into the next page is recorded in both pages, with a negative offset in the second.
    std::vector<std::vector<std::pair<int32_t, std::vector<uint8_t>>>> pageFixups(pages);
    for (const Fixup& fixup : module.fixups) {
        if (fixup.object >= module.objects.size() || fixup.targetObject >= module.objects.size()) {
            *error = "a fixup names an object that does not exist";
            return false;
        }
        const Object& source = module.objects[fixup.object];
        if (uint64_t{fixup.offset} + 4 > source.data.size()) {
            *error = "fixup at " + source.name + "+" + Hex(fixup.offset) + " lies outside the object's data";
            return false;
        }
        if (fixup.targetOffset > module.objects[fixup.targetObject].virtualSize) {
            *error = "fixup at " + source.name + "+" + Hex(fixup.offset) + " points outside its target object";
            return false;
        }
        std::vector<uint8_t> record;
        Bytes r(&record);
        r.Byte(fixup.kind == FixupKind::kOffset32 ? kFixupOffset32 : kFixupSelfRelative32);
        bool wide = fixup.targetOffset > 0xFFFF;
        r.Byte(wide ? 0x10 : 0x00);   // internal reference; 32-bit target offset when needed
        r.Word(0);                    // source offset, filled per page
        r.Byte(static_cast<uint8_t>(fixup.targetObject + 1));
        if (wide)
            r.Dword(fixup.targetOffset);
        else
            r.Word(static_cast<uint16_t>(fixup.targetOffset));
        uint32_t page = firstPage[fixup.object] + fixup.offset / kPageSize;
        int32_t inPage = static_cast<int32_t>(fixup.offset % kPageSize);
        pageFixups[page].emplace_back(inPage, record);
        if (inPage + 4 > static_cast<int32_t>(kPageSize))
            pageFixups[page + 1].emplace_back(inPage - static_cast<int32_t>(kPageSize), record);
    }
    for (auto& list : pageFixups)
        std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    PutDosStub(&out);
    const uint32_t header = out.Size();
    out.PadTo(header + kHeaderSize);
    auto field = [&](uint32_t offset, uint32_t value) { out.PutDword(header + offset, value); };
    auto rel = [&]() { return out.Size() - header; };

    // Object table.
    const uint32_t objectTable = rel();
    for (size_t i = 0; i < module.objects.size(); ++i) {
        const Object& object = module.objects[i];
        uint32_t objectPages = static_cast<uint32_t>((object.data.size() + kPageSize - 1) / kPageSize);
        out.Dword(object.virtualSize);
        out.Dword(object.base);
        out.Dword(object.flags);
        out.Dword(objectPages ? firstPage[i] + 1 : 0);
        out.Dword(objectPages);
        out.Dword(0);
    }
    // Object page table: the file page number (1-based, 24 bits, high byte first) and flags.
    const uint32_t pageTable = rel();
    for (uint32_t page = 1; page <= pages; ++page) {
        out.Byte(static_cast<uint8_t>(page >> 16));
        out.Byte(static_cast<uint8_t>(page >> 8));
        out.Byte(static_cast<uint8_t>(page));
        out.Byte(0);   // a legal physical page
    }
    // No resource table in the OS/2 sense: the version resource is reached through the
    // driver header's own fields.
    const uint32_t resourceTable = rel();
    const uint32_t residentNames = rel();
    if (!PutName(&out, module.name, 0, error) || !PutName(&out, module.entryName, 1, error)) return false;
    out.Byte(0);
    // Entry table: one bundle of one 32-bit entry, exported.
    const uint32_t entryTable = rel();
    out.Byte(1);
    out.Byte(3);   // 32-bit entries
    out.Word(static_cast<uint16_t>(module.entryObject + 1));
    out.Byte(3);   // exported, shared data
    out.Dword(module.entryOffset);
    out.Byte(0);
    // Fixup page table and fixup record table.
    const uint32_t fixupPageTable = rel();
    out.PadTo(out.Size() + 4 * (pages + 1));
    const uint32_t fixupRecords = rel();
    for (uint32_t page = 0; page < pages; ++page) {
        out.PutDword(header + fixupPageTable + 4 * page, rel() - fixupRecords);
        for (const auto& [inPage, record] : pageFixups[page]) {
            uint32_t at = out.Size();
            out.Append(record);
            out.PutWord(at + 2, static_cast<uint16_t>(static_cast<int16_t>(inPage)));
        }
    }
    out.PutDword(header + fixupPageTable + 4 * pages, rel() - fixupRecords);
    // No imports.
    const uint32_t importModules = rel();
    const uint32_t importProcedures = rel();
    out.Byte(0);
    const uint32_t fixupEnd = rel();

    // The version resource: a 12-byte header (type 16, ordinal 1), then the block.
    uint32_t resourceOffset = 0, resourceLength = 0;
    if (!module.versionResource.empty()) {
        resourceOffset = out.Size();
        out.Byte(0xFF);
        out.Word(16);
        out.Byte(0xFF);
        out.Word(1);
        out.Word(0x0030);   // moveable, pure
        out.Dword(static_cast<uint32_t>(module.versionResource.size()));
        out.Append(module.versionResource);
        resourceLength = out.Size() - resourceOffset;
    }

    // Data pages; every page is whole in the file except the last one of the module.
    out.Align(16);
    const uint32_t dataPages = out.Size();
    uint32_t lastPageSize = kPageSize;
    for (size_t i = 0; i < module.objects.size(); ++i) {
        const Object& object = module.objects[i];
        out.Append(object.data);
        uint32_t tail = static_cast<uint32_t>(object.data.size() % kPageSize);
        bool lastWithPages = true;
        for (size_t j = i + 1; j < module.objects.size(); ++j)
            if (!module.objects[j].data.empty()) lastWithPages = false;
        if (tail && !lastWithPages) out.PadTo(out.Size() + kPageSize - tail);
        if (lastWithPages && !object.data.empty()) {
            lastPageSize = tail ? tail : kPageSize;
            break;
        }
    }

    // Non-resident name table.
    const uint32_t nonresidentNames = out.Size();
    if (!PutName(&out, module.description, 0, error)) return false;
    out.Byte(0);
    const uint32_t nonresidentSize = out.Size() - nonresidentNames;

    out.PutWord(header + 0x00, 0x454C);   // "LE"
    out.PutWord(header + 0x08, 2);        // 80386
    out.PutWord(header + 0x0A, 4);        // Windows virtual device
    field(0x10, module.moduleFlags);
    field(0x14, pages);
    field(0x28, kPageSize);
    field(0x2C, lastPageSize);
    field(0x30, fixupEnd - fixupPageTable);
    field(0x38, fixupPageTable - objectTable);
    field(0x40, objectTable);
    field(0x44, static_cast<uint32_t>(module.objects.size()));
    field(0x48, pageTable);
    field(0x50, resourceTable);
    field(0x58, residentNames);
    field(0x5C, entryTable);
    field(0x68, fixupPageTable);
    field(0x6C, fixupRecords);
    field(0x70, importModules);
    field(0x78, importProcedures);
    field(0x80, dataPages);
    field(0x84, preloadPages);
    field(0x88, nonresidentNames);
    field(0x8C, nonresidentSize);
    field(0xB8, resourceOffset);
    field(0xBC, resourceLength);
    out.PutWord(header + 0xC0, module.deviceId);
    out.PutWord(header + 0xC2, module.ddkVersion);

    image->swap(outBytes);
    return true;
}

namespace {

// One node of a 16-bit version block: WORD length, WORD value length, the key (ANSI,
// zero-terminated, padded to a DWORD boundary), the value, then the children, each on a
// DWORD boundary. The length counts everything but the padding after the last byte.
struct VersionNode {
    std::string key;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

std::vector<uint8_t> EncodeNode(const VersionNode& node) {
    std::vector<uint8_t> bytes;
    Bytes out(&bytes);
    out.Word(0);
    out.Word(static_cast<uint16_t>(node.value.size()));
    out.Text(node.key);
    out.Byte(0);
    out.Align(4);
    out.Append(node.value);
    for (const VersionNode& child : node.children) {
        out.Align(4);
        out.Append(EncodeNode(child));
    }
    out.PutWord(0, static_cast<uint16_t>(bytes.size()));
    return bytes;
}

std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

}   // namespace

std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info) {
    VersionNode root;
    root.key = "VS_VERSION_INFO";
    Bytes fixed(&root.value);
    fixed.Dword(0xFEEF04BD);
    fixed.Dword(0x00010000);
    fixed.Dword(info.fileVersionMs);
    fixed.Dword(info.fileVersionLs);
    fixed.Dword(info.productVersionMs);
    fixed.Dword(info.productVersionLs);
    fixed.Dword(info.fileFlagsMask);
    fixed.Dword(info.fileFlags);
    fixed.Dword(info.fileOs);
    fixed.Dword(info.fileType);
    fixed.Dword(info.fileSubtype);
    fixed.Dword(0);
    fixed.Dword(0);

    VersionNode table;
    table.key = info.stringTable;
    for (const auto& [key, value] : info.strings) table.children.push_back({key, Text(value), {}});
    VersionNode strings{"StringFileInfo", {}, {table}};

    VersionNode translation{"Translation", {}, {}};
    Bytes t(&translation.value);
    t.Word(info.language);
    t.Word(info.codePage);
    VersionNode variables{"VarFileInfo", {}, {translation}};

    root.children = {strings, variables};
    return EncodeNode(root);
}

}   // namespace le
