// Fuzz driver for the LE packer's ELF reader: any bytes are either refused with a message or
// read into objects and fixups that the LE writer can lay out; nothing reads or writes outside
// the input. The plan is the enumerator driver's own.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "elf_input.h"
#include "le_image.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> elf(data, data + size);
    const std::vector<le::ObjectPlan> plan = {{".text", 0x2047}, {".itext", 0x2017}};
    le::Module module;
    module.name = "ORV_DE";
    module.description = "Virtual Device Driver ORV_DE";
    module.entryName = "_The_DDB";
    std::string error;
    if (!le::ReadLinkedElf(elf, plan, &module, &error)) {
        Check(!error.empty());
        return 0;
    }
    Check(module.objects.size() == plan.size());
    std::vector<uint8_t> image;
    if (!le::WriteImage(module, &image, &error)) Check(!error.empty());
    return 0;
}
