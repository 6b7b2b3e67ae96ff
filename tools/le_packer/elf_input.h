// Reads the linked 32-bit ELF file of a driver (linked with its relocations kept, ld -q) and
// turns it into LE objects and fixups.
#ifndef BRANTOVIX_ELF_INPUT_H
#define BRANTOVIX_ELF_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "le_image.h"

namespace le {

struct ObjectPlan {
    std::string section;   // the linked output section that becomes the object
    uint32_t flags = 0;
};

// Fills module->objects (in plan order) and module->fixups from the ELF image, and the
// entry point from the symbol named module->entryName. Refuses relocations it cannot
// express as LE fixups, sections it was not told to place, and objects larger than
// kMaxObjectSize. Returns false with a message in *error.
bool ReadLinkedElf(const std::vector<uint8_t>& elf, const std::vector<ObjectPlan>& plan, Module* module,
                   std::string* error);

}   // namespace le

#endif
