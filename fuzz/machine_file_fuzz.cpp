// Fuzz driver for the machine file parser: any text is either refused with "line N: ..." and
// no machine, or accepted as a machine whose every entry obeys the format's rules.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "machine_file.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

bool HasControlCharacter(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    provisioner::Machine machine;
    std::string error;
    if (!provisioner::ParseMachineFile(text, &machine, &error)) {
        Check(error.compare(0, 5, "line ") == 0);
        return 0;
    }
    for (const provisioner::DriverFile& file : machine.files) {
        Check(!file.name.empty() && file.name.size() <= 255 && !HasControlCharacter(file.name));
        Check(file.last_write.month >= 1 && file.last_write.month <= 12);
        Check(file.last_write.day >= 1 && file.last_write.day <= 31);
    }
    for (const provisioner::DeviceNode& node : machine.nodes) Check(!node.name.empty());
    for (const provisioner::HardwareKey& key : machine.hardware_keys) Check(!key.path.empty());
    for (const provisioner::ClassValue& value : machine.class_values) Check(!value.key.empty());
    return 0;
}
