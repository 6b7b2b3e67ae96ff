// The machine description that the kernel stand-in reads: which LE image to host and the
// two system lists the hosted driver sees (see README.md for the format).
#ifndef BRANTOVIX_MACHINE_DESCRIPTION_H
#define BRANTOVIX_MACHINE_DESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

namespace kernel_standin {

struct DescribedModule {
  std::string name;
  uint8_t load_count = 1;
};

struct MachineDescription {
  std::string image;                     // empty: not given
  std::vector<DescribedModule> modules;  // the loader's list, head first
  std::vector<std::string> devices;      // the chain of descriptor blocks, head first, 8 bytes each
};

constexpr size_t kMaxListEntries = 4096;

// Parses the text of a description. On a malformed line returns false with
// "line N: ..." in *error.
bool ParseMachineDescription(const std::string& text, MachineDescription* description, std::string* error);

// Puts the hosted driver into both lists, as the system has it while the driver is loaded:
// at the end of each list unless the description already places it (module names compare
// without regard to case, device names byte for byte after padding).
void AddLoadedDriver(MachineDescription* description, const std::string& module_name, const std::string& ddb_name);

}  // namespace kernel_standin

#endif
