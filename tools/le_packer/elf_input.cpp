#include "elf_input.h"

#include <cstdio>
#include <cstring>

namespace le {
namespace {

constexpr uint16_t kElfExecutable = 2;
constexpr uint16_t kMachine386 = 3;
constexpr uint32_t kSectionProgbits = 1;
constexpr uint32_t kSectionSymbols = 2;
constexpr uint32_t kSectionRela = 4;
constexpr uint32_t kSectionNobits = 8;
constexpr uint32_t kSectionRel = 9;
constexpr uint32_t kSectionAlloc = 0x2;
constexpr uint16_t kSymbolUndefined = 0;
constexpr uint16_t kSymbolAbsolute = 0xFFF1;
constexpr uint32_t kRelocationNone = 0;
constexpr uint32_t kRelocation32 = 1;
constexpr uint32_t kRelocationPc32 = 2;

struct Section {
    std::string name;
    uint32_t type, flags, address, offset, size, link, info, entrySize;
};

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(uint64_t offset, uint64_t count) const { return offset + count <= bytes_.size(); }
    uint32_t Dword(uint64_t at) const {
        return bytes_[at] | bytes_[at + 1] << 8 | bytes_[at + 2] << 16 | uint32_t{bytes_[at + 3]} << 24;
    }
    uint16_t Word(uint64_t at) const { return static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8); }
    std::string String(uint64_t at, uint64_t end) const {
        std::string s;
        while (at < end && at < bytes_.size() && bytes_[at]) s.push_back(static_cast<char>(bytes_[at++]));
        return s;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

}   // namespace

bool ReadLinkedElf(const std::vector<uint8_t>& elf, const std::vector<ObjectPlan>& plan, Module* module,
                   std::string* error) {
    Reader in(elf);
    if (!in.Has(0, 52) || std::memcmp(elf.data(),
                                      "\x7F"
                                      "ELF\x01\x01",
                                      6) != 0) {
        *error = "not a 32-bit little-endian ELF file";
        return false;
    }
    if (in.Word(16) != kElfExecutable || in.Word(18) != kMachine386) {
        *error = "not a linked i386 ELF executable";
        return false;
    }
    uint32_t sectionTable = in.Dword(32);
    uint16_t sectionEntry = in.Word(46), sectionCount = in.Word(48), namesIndex = in.Word(50);
    if (sectionEntry < 40 || !in.Has(sectionTable, uint64_t{sectionEntry} * sectionCount) ||
        namesIndex >= sectionCount) {
        *error = "the section table is damaged";
        return false;
    }
    std::vector<Section> sections(sectionCount);
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint64_t at = sectionTable + uint64_t{i} * sectionEntry;
        Section& s = sections[i];
        s.type = in.Dword(at + 4);
        s.flags = in.Dword(at + 8);
        s.address = in.Dword(at + 12);
        s.offset = in.Dword(at + 16);
        s.size = in.Dword(at + 20);
        s.link = in.Dword(at + 24);
        s.info = in.Dword(at + 28);
        s.entrySize = in.Dword(at + 36);
        // Every section whose bytes may be read must lie in the file, whatever its type says.
        if (s.type != kSectionNobits && !in.Has(s.offset, s.size)) {
            *error = "section " + std::to_string(i) + " lies outside the file";
            return false;
        }
    }
    const Section& names = sections[namesIndex];
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint32_t name = in.Dword(sectionTable + uint64_t{i} * sectionEntry);
        sections[i].name = in.String(uint64_t{names.offset} + name, uint64_t{names.offset} + names.size);
    }

    // Objects, in the order planned; every allocated section must be one of them.
    std::vector<int> objectOf(sectionCount, -1);
    module->objects.clear();
    module->fixups.clear();
    for (const ObjectPlan& p : plan) {
        int found = -1;
        for (uint16_t i = 0; i < sectionCount; ++i)
            if (sections[i].name == p.section && (sections[i].flags & kSectionAlloc)) found = i;
        if (found < 0) {
            *error = "section " + p.section + " is not in the linked file";
            return false;
        }
        const Section& s = sections[found];
        if (s.size > kMaxObjectSize) {
            *error = "object " + p.section + " is " + std::to_string(s.size) +
                     " bytes; this packer writes objects of at most " + std::to_string(kMaxObjectSize) + " bytes";
            return false;
        }
        Object object;
        object.name = p.section;
        object.base = s.address;
        object.flags = p.flags;
        object.virtualSize = s.size;
        if (s.type == kSectionNobits)
            object.data.assign(s.size, 0);
        else
            object.data.assign(elf.begin() + s.offset, elf.begin() + s.offset + s.size);
        objectOf[found] = static_cast<int>(module->objects.size());
        module->objects.push_back(std::move(object));
    }
    for (uint16_t i = 0; i < sectionCount; ++i) {
        if ((sections[i].flags & kSectionAlloc) && sections[i].size && objectOf[i] < 0) {
            *error = "section " + sections[i].name + " is not placed in any object";
            return false;
        }
    }

    // The symbol table.
    int symbolsIndex = -1;
    for (uint16_t i = 0; i < sectionCount; ++i)
        if (sections[i].type == kSectionSymbols) symbolsIndex = i;
    if (symbolsIndex < 0 || sections[symbolsIndex].entrySize < 16 || sections[symbolsIndex].link >= sectionCount) {
        *error = "the file has no symbol table";
        return false;
    }
    const Section& symbols = sections[symbolsIndex];
    const Section& symbolNames = sections[symbols.link];
    uint32_t symbolCount = symbols.size / symbols.entrySize;
    auto symbolAt = [&](uint32_t index) { return uint64_t{symbols.offset} + uint64_t{index} * symbols.entrySize; };

    bool entryFound = false;
    for (uint32_t i = 0; i < symbolCount; ++i) {
        uint64_t at = symbolAt(i);
        std::string name =
            in.String(uint64_t{symbolNames.offset} + in.Dword(at), uint64_t{symbolNames.offset} + symbolNames.size);
        uint16_t index = in.Word(at + 14);
        if (name != module->entryName || index >= sectionCount || objectOf[index] < 0) continue;
        const Object& object = module->objects[objectOf[index]];
        module->entryObject = static_cast<uint32_t>(objectOf[index]);
        module->entryOffset = in.Dword(at + 4) - object.base;
        entryFound = true;
    }
    if (!entryFound) {
        *error = "the entry symbol " + module->entryName + " is not defined in an object";
        return false;
    }

    // Relocations of the objects' contents.
    for (uint16_t r = 0; r < sectionCount; ++r) {
        const Section& relocations = sections[r];
        if (relocations.type == kSectionRela) {
            *error = "section " + relocations.name + " holds relocations with addends, which i386 does not use";
            return false;
        }
        if (relocations.type != kSectionRel) continue;
        if (relocations.info >= sectionCount || objectOf[relocations.info] < 0) continue;
        if (relocations.entrySize < 8) {
            *error = "section " + relocations.name + " is damaged";
            return false;
        }
        uint32_t sourceObject = static_cast<uint32_t>(objectOf[relocations.info]);
        const Object& source = module->objects[sourceObject];
        for (uint32_t k = 0; k < relocations.size / relocations.entrySize; ++k) {
            uint64_t at = uint64_t{relocations.offset} + uint64_t{k} * relocations.entrySize;
            uint32_t place = in.Dword(at), info = in.Dword(at + 4);
            uint32_t type = info & 0xFF, symbol = info >> 8;
            std::string where = source.name + "+" + Hex(place - source.base);
            if (type == kRelocationNone) continue;
            if (type != kRelocation32 && type != kRelocationPc32) {
                *error = "relocation type " + std::to_string(type) + " at " + where +
                         " cannot be written as an LE fixup (only R_386_32 and R_386_PC32 can)";
                return false;
            }
            if (place < source.base || uint64_t{place} - source.base + 4 > source.data.size()) {
                *error = "relocation at " + where + " lies outside its section";
                return false;
            }
            if (symbol >= symbolCount) {
                *error = "relocation at " + where + " names a symbol that does not exist";
                return false;
            }
            uint16_t symbolSection = in.Word(symbolAt(symbol) + 14);
            uint32_t offset = place - source.base;
            const uint8_t* p = source.data.data() + offset;
            uint32_t value = p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
            if (symbolSection == kSymbolAbsolute) {
                if (type == kRelocation32) continue;   // an absolute value moves with nothing
                *error = "relocation at " + where + " is relative to an absolute address";
                return false;
            }
            if (symbolSection == kSymbolUndefined || symbolSection >= sectionCount || objectOf[symbolSection] < 0) {
                *error = "relocation at " + where + " refers to a symbol outside the objects";
                return false;
            }
            uint32_t targetObject = static_cast<uint32_t>(objectOf[symbolSection]);
            const Object& target = module->objects[targetObject];
            Fixup fixup;
            fixup.object = sourceObject;
            fixup.offset = offset;
            fixup.targetObject = targetObject;
            uint32_t targetAddress;
            if (type == kRelocation32) {
                fixup.kind = FixupKind::kOffset32;
                targetAddress = value;
            } else {
                if (targetObject == sourceObject) continue;   // moves with its object
                fixup.kind = FixupKind::kSelfRelative32;
                targetAddress = value + place + 4;
            }
            if (targetAddress < target.base || targetAddress - target.base > target.virtualSize) {
                *error = "relocation at " + where + " points outside object " + target.name;
                return false;
            }
            fixup.targetOffset = targetAddress - target.base;
            module->fixups.push_back(fixup);
        }
    }
    return true;
}

}   // namespace le
