// Fuzz driver for the machine file parser, which also reads the kernel stand-in's machine
// description: any text, read as either, is refused with "line N: ..." and no machine, or
// accepted as a machine whose every entry obeys the format's rules.
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

// Module names without blanks, up to 255 characters; device names of 8 bytes, blank-padded.
void CheckLists(const provisioner::Machine& machine) {
    Check(machine.modules.size() <= provisioner::kMaxListEntries);
    Check(machine.devices.size() <= provisioner::kMaxListEntries);
    for (const LoadedModule& module : machine.modules)
        Check(!module.name.empty() && module.name.size() <= 255 && module.name.find(' ') == std::string::npos);
    for (const std::string& device : machine.devices) Check(device.size() == 8 && device[0] != ' ');
}

void CheckMachineFile(const std::string& text) {
    provisioner::Machine machine;
    std::string error;
    if (!provisioner::ParseMachineFile(text, &machine, &error)) {
        Check(error.compare(0, 5, "line ") == 0);
        return;
    }
    for (const provisioner::DriverFile& file : machine.files) {
        Check(!file.name.empty() && file.name.size() <= 255 && !HasControlCharacter(file.name));
        Check(file.lastWrite.month >= 1 && file.lastWrite.month <= 12);
        Check(file.lastWrite.day >= 1 && file.lastWrite.day <= 31);
    }
    for (const provisioner::DeviceNode& node : machine.nodes) Check(!node.name.empty());
    for (const provisioner::HardwareKey& key : machine.hardwareKeys) Check(!key.path.empty());
    for (const provisioner::ClassValue& value : machine.classValues) Check(!value.key.empty());
    CheckLists(machine);
    Check(machine.image.empty());
}

void CheckStandinDescription(const std::string& text) {
    provisioner::Machine description;
    std::string error;
    if (!provisioner::ParseMachineFile(text, &description, &error, provisioner::MachineText::kStandinDescription)) {
        Check(error.compare(0, 5, "line ") == 0);
        Check(description.modules.empty() && description.devices.empty() && description.image.empty());
        return;
    }
    Check(description.files.empty() && description.nodes.empty() && description.hardwareKeys.empty() &&
          description.classValues.empty() && !description.hasEnumeratorTime);
    CheckLists(description);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckMachineFile(text);
    CheckStandinDescription(text);
    return 0;
}
