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
    uint32_t type, flags, address, offset, size, link, info, entry_size;
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
    uint32_t section_table = in.Dword(32);
    uint16_t section_entry = in.Word(46), section_count = in.Word(48), names_index = in.Word(50);
    if (section_entry < 40 || !in.Has(section_table, uint64_t{section_entry} * section_count) ||
        names_index >= section_count) {
        *error = "the section table is damaged";
        return false;
    }
    std::vector<Section> sections(section_count);
    for (uint16_t i = 0; i < section_count; ++i) {
        uint64_t at = section_table + uint64_t{i} * section_entry;
        Section& s = sections[i];
        s.type = in.Dword(at + 4);
        s.flags = in.Dword(at + 8);
        s.address = in.Dword(at + 12);
        s.offset = in.Dword(at + 16);
        s.size = in.Dword(at + 20);
        s.link = in.Dword(at + 24);
        s.info = in.Dword(at + 28);
        s.entry_size = in.Dword(at + 36);
        // Every section whose bytes may be read must lie in the file, whatever its type says.
        if (s.type != kSectionNobits && !in.Has(s.offset, s.size)) {
            *error = "section " + std::to_string(i) + " lies outside the file";
            return false;
        }
    }
    const Section& names = sections[names_index];
    for (uint16_t i = 0; i < section_count; ++i) {
        uint32_t name = in.Dword(section_table + uint64_t{i} * section_entry);
        sections[i].name = in.String(uint64_t{names.offset} + name, uint64_t{names.offset} + names.size);
    }

    // Objects, in the order planned; every allocated section must be one of them.
    std::vector<int> object_of(section_count, -1);
    module->objects.clear();
    module->fixups.clear();
    for (const ObjectPlan& p : plan) {
        int found = -1;
        for (uint16_t i = 0; i < section_count; ++i)
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
        object.virtual_size = s.size;
        if (s.type == kSectionNobits)
            object.data.assign(s.size, 0);
        else
            object.data.assign(elf.begin() + s.offset, elf.begin() + s.offset + s.size);
        object_of[found] = static_cast<int>(module->objects.size());
        module->objects.push_back(std::move(object));
    }
    for (uint16_t i = 0; i < section_count; ++i) {
        if ((sections[i].flags & kSectionAlloc) && sections[i].size && object_of[i] < 0) {
            *error = "section " + sections[i].name + " is not placed in any object";
            return false;
        }
    }

    // The symbol table.
    int symbols_index = -1;
    for (uint16_t i = 0; i < section_count; ++i)
        if (sections[i].type == kSectionSymbols) symbols_index = i;
    if (symbols_index < 0 || sections[symbols_index].entry_size < 16 || sections[symbols_index].link >= section_count) {
        *error = "the file has no symbol table";
        return false;
    }
    const Section& symbols = sections[symbols_index];
    const Section& symbol_names = sections[symbols.link];
    uint32_t symbol_count = symbols.size / symbols.entry_size;
    auto symbol_at = [&](uint32_t index) { return uint64_t{symbols.offset} + uint64_t{index} * symbols.entry_size; };

    bool entry_found = false;
    for (uint32_t i = 0; i < symbol_count; ++i) {
        uint64_t at = symbol_at(i);
        std::string name =
            in.String(uint64_t{symbol_names.offset} + in.Dword(at), uint64_t{symbol_names.offset} + symbol_names.size);
        uint16_t index = in.Word(at + 14);
        if (name != module->entry_name || index >= section_count || object_of[index] < 0) continue;
        const Object& object = module->objects[object_of[index]];
        module->entry_object = static_cast<uint32_t>(object_of[index]);
        module->entry_offset = in.Dword(at + 4) - object.base;
        entry_found = true;
    }
    if (!entry_found) {
        *error = "the entry symbol " + module->entry_name + " is not defined in an object";
        return false;
    }

    // Relocations of the objects' contents.
    for (uint16_t r = 0; r < section_count; ++r) {
        const Section& relocations = sections[r];
        if (relocations.type == kSectionRela) {
            *error = "section " + relocations.name + " holds relocations with addends, which i386 does not use";
            return false;
        }
        if (relocations.type != kSectionRel) continue;
        if (relocations.info >= section_count || object_of[relocations.info] < 0) continue;
        if (relocations.entry_size < 8) {
            *error = "section " + relocations.name + " is damaged";
            return false;
        }
        uint32_t source_object = static_cast<uint32_t>(object_of[relocations.info]);
        const Object& source = module->objects[source_object];
        for (uint32_t k = 0; k < relocations.size / relocations.entry_size; ++k) {
            uint64_t at = uint64_t{relocations.offset} + uint64_t{k} * relocations.entry_size;
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
            if (symbol >= symbol_count) {
                *error = "relocation at " + where + " names a symbol that does not exist";
                return false;
            }
            uint16_t symbol_section = in.Word(symbol_at(symbol) + 14);
            uint32_t offset = place - source.base;
            const uint8_t* p = source.data.data() + offset;
            uint32_t value = p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
            if (symbol_section == kSymbolAbsolute) {
                if (type == kRelocation32) continue;   // an absolute value moves with nothing
                *error = "relocation at " + where + " is relative to an absolute address";
                return false;
            }
            if (symbol_section == kSymbolUndefined || symbol_section >= section_count ||
                object_of[symbol_section] < 0) {
                *error = "relocation at " + where + " refers to a symbol outside the objects";
                return false;
            }
            uint32_t target_object = static_cast<uint32_t>(object_of[symbol_section]);
            const Object& target = module->objects[target_object];
            Fixup fixup;
            fixup.object = source_object;
            fixup.offset = offset;
            fixup.target_object = target_object;
            uint32_t target_address;
            if (type == kRelocation32) {
                fixup.kind = FixupKind::kOffset32;
                target_address = value;
            } else {
                if (target_object == source_object) continue;   // moves with its object
                fixup.kind = FixupKind::kSelfRelative32;
                target_address = value + place + 4;
            }
            if (target_address < target.base || target_address - target.base > target.virtual_size) {
                *error = "relocation at " + where + " points outside object " + target.name;
                return false;
            }
            fixup.target_offset = target_address - target.base;
            module->fixups.push_back(fixup);
        }
    }
    return true;
}

}   // namespace le
