// A machine described as text (machines/README.md): its driver files, its plug-and-play tree
// and its loaded virtual devices. The provisioner turns one into a Wine prefix. The kernel
// stand-in's machine description (tools/kernel_standin/README.md) is the same text with only
// its image, module and device lines; this one parser reads both.
#ifndef BRANTOVIX_MACHINE_FILE_H
#define BRANTOVIX_MACHINE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_module.h"

namespace provisioner {

// The three directories that the inventory scans.
enum class DriverDirectory {
    kSystem,     // the system directory
    kDrivers,    // the Windows directory followed by "\System32\Drivers"
    kIoSubSys,   // the system directory followed by "\IoSubSys"
};

struct FileTime {   // UTC, as a SYSTEMTIME holds it
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct DriverFile {
    DriverDirectory directory = DriverDirectory::kSystem;
    std::string name;
    bool hasVersion = false;    // false: a file without a version resource
    uint16_t version[4] = {};   // a.b.c.d: dwFileVersionMS = a:b, dwFileVersionLS = c:d
    FileTime lastWrite;
};

// HKEY_DYN_DATA "Config Manager\Enum\<name>", value "HardWareKey".
struct DeviceNode {
    std::string name;
    std::string hardwareKey;
};

// HKEY_LOCAL_MACHINE "Enum\<path>", value "Driver" when hasDriver.
struct HardwareKey {
    std::string path;
    bool hasDriver = false;
    std::string driver;
};

// HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\<key>", value <name> = <data>.
struct ClassValue {
    std::string key;
    std::string name;
    std::string data;
};

constexpr size_t kMaxListEntries = 4096;   // modules, and devices

struct Machine {
    std::vector<DriverFile> files;
    std::vector<DeviceNode> nodes;
    std::vector<HardwareKey> hardwareKeys;
    std::vector<ClassValue> classValues;
    // The loader's list, head first, and the chain of descriptor blocks, head first (each name
    // blank-padded to the 8 bytes a descriptor block holds).
    std::vector<LoadedModule> modules;
    std::vector<std::string> devices;
    // The "module" and "device" lines, in order, as they stand: the stand-in's description.
    std::string kernelLists;
    // The stand-in's "image" line: the LE image to host (empty: not given).
    std::string image;
    // When the component wrote the enumerator driver file ORV_DE.VXD into the system directory:
    // the last-write time that the kernel stand-in, in that file's place, is given.
    bool hasEnumeratorTime = false;
    FileTime enumeratorWritten;
};

// Which lines a text may hold.
enum class MachineText {
    kMachineFile,          // every kind but "image": the provisioner puts the image in place
    kStandinDescription,   // "image", "module" and "device" only
};

// Parses a machine file or a stand-in's description. On a malformed line returns false with
// "line N: ..." in *error and an empty machine.
bool ParseMachineFile(const std::string& text, Machine* machine, std::string* error,
                      MachineText kind = MachineText::kMachineFile);

// Puts a loaded driver into both lists, as the system has it while the driver is loaded (the
// kernel stand-in does so with the driver it hosts): at the end of each list unless the
// machine already places it (module names compare without regard to case, device names byte
// for byte after padding).
void AddLoadedDriver(Machine* machine, const std::string& moduleName, const std::string& ddbName);

}   // namespace provisioner

#endif
