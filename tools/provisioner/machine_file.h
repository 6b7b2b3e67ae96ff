// A machine described as text (machines/README.md): its driver files, its plug-and-play tree
// and its loaded virtual devices. The provisioner turns one into a Wine prefix.
#ifndef BRANTOVIX_MACHINE_FILE_H
#define BRANTOVIX_MACHINE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace provisioner {

// The three directories that the inventory scans.
enum class DriverDirectory {
  kSystem,    // the system directory
  kDrivers,   // the Windows directory followed by "\System32\Drivers"
  kIoSubSys,  // the system directory followed by "\IoSubSys"
};

struct FileTime {  // UTC, as a SYSTEMTIME holds it
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct DriverFile {
  DriverDirectory directory = DriverDirectory::kSystem;
  std::string name;
  bool has_version = false;   // false: a file without a version resource
  uint16_t version[4] = {};   // a.b.c.d: dwFileVersionMS = a:b, dwFileVersionLS = c:d
  FileTime last_write;
};

// HKEY_DYN_DATA "Config Manager\Enum\<name>", value "HardWareKey".
struct DeviceNode {
  std::string name;
  std::string hardware_key;
};

// HKEY_LOCAL_MACHINE "Enum\<path>", value "Driver" when has_driver.
struct HardwareKey {
  std::string path;
  bool has_driver = false;
  std::string driver;
};

// HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\<key>", value <name> = <data>.
struct ClassValue {
  std::string key;
  std::string name;
  std::string data;
};

struct Machine {
  std::vector<DriverFile> files;
  std::vector<DeviceNode> nodes;
  std::vector<HardwareKey> hardware_keys;
  std::vector<ClassValue> class_values;
  // The "module" and "device" lines, in order, in the kernel stand-in's own format.
  std::string kernel_lists;
  // When the component wrote the enumerator driver file ORV_DE.VXD into the system directory:
  // the last-write time that the kernel stand-in, in that file's place, is given.
  bool has_enumerator_time = false;
  FileTime enumerator_written;
};

// Parses a machine file. On a malformed line returns false with "line N: ..." in *error.
bool ParseMachineFile(const std::string& text, Machine* machine, std::string* error);

}  // namespace provisioner

#endif
