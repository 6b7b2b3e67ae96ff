// The provisioner: turns a machine file (machines/README.md) into the Wine prefix it runs in,
// and takes it out again.
//
//   provisioner provision MACHINE_FILE [--standin DLL] [--image LE_FILE]
//   provisioner restore
//   provisioner remove
//
// Everything it creates is recorded, as it goes, in a record file in the Windows directory
// (record.h); "remove" (and every "provision", before it starts) takes exactly those things
// away again, newest first, so provisioning twice gives the same machine and a failed run can
// still be cleaned up; "restore" builds the machine's plug-and-play tree under HKEY_DYN_DATA
// again after the prefix started afresh (recorded_machine.h). It never replaces a driver file
// or a registry value it did not create, except the enumerator driver file in the system
// directory, which the kernel stand-in replaces.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "driver_file_image.h"
#include "driver_directories.h"
#include "machine_file.h"
#include "provisioner_support.h"
#include "record.h"
#include "recorded_machine.h"
#include "registry_tree.h"

namespace {

using provisioner::CreateKeyPath;
using provisioner::DriverDirectory;
using provisioner::DriverFile;
using provisioner::Exists;
using provisioner::Fail;
using provisioner::kDynamicRootName;
using provisioner::kMachineRootName;
using provisioner::LastErrorText;
using provisioner::Machine;
using provisioner::ReadWholeFile;
using provisioner::Record;
using provisioner::RemoveRecorded;
using provisioner::RestoreDynamicTree;
using provisioner::SetStringValue;
using provisioner::WindowsPath;
using provisioner::WriteNewFile;

const char kDeviceNodeRoot[] = "Config Manager\\Enum";
const char kHardwareRoot[] = "Enum";
const char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class";
const char kStandinName[] = "\\ORV_DE.VXD";
const char kStandinDescriptionName[] = "\\ORV_DE.MACHINE";
const char kStandinImageName[] = "ORV_DE.LE";

struct Sources {
    std::string standin;   // the kernel stand-in DLL
    std::string image;     // the enumerator driver's LE image
};

std::string DirectoryPath(const driver_fixtures::DriverDirectories& directories, DriverDirectory which) {
    switch (which) {
    case DriverDirectory::kSystem:
        return directories.system;
    case DriverDirectory::kDrivers:
        return directories.drivers;
    case DriverDirectory::kIoSubSys:
        return directories.ioSubSys;
    }
    return directories.system;
}

// A file with no version resource: the bare header of a real-mode executable, which the
// platform's version functions find nothing in.
std::vector<uint8_t> UnversionedImage() {
    std::vector<uint8_t> bytes(64, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[2] = 64;   // bytes on the last page
    bytes[4] = 1;    // pages
    bytes[8] = 4;    // header paragraphs
    return bytes;
}

bool EnsureDirectory(const std::string& path, Record* record) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
        return Fail(path + " is a file, not a directory");
    }
    if (!CreateDirectoryA(path.c_str(), nullptr))
        return Fail("cannot create " + path + ": " + LastErrorText(GetLastError()));
    return record->Add({"dir", path});
}

bool PlaceDriverFile(const std::string& path, const DriverFile& file, Record* record) {
    std::vector<uint8_t> bytes =
        file.hasVersion
            ? driver_fixtures::BuildVersionedPe({file.version[0], file.version[1], file.version[2], file.version[3]})
            : UnversionedImage();
    if (!WriteNewFile(path, bytes.data(), bytes.size(), CREATE_NEW))
        return Fail("cannot create " + path + ": " + LastErrorText(GetLastError()));
    if (!record->Add({"file", path})) return false;
    const provisioner::FileTime& t = file.lastWrite;
    if (!driver_fixtures::SetLastWriteTime(
            path, driver_fixtures::UtcFileTime(t.year, t.month, t.day, t.hour, t.minute, t.second)))
        return Fail("cannot set the last-write time of " + path + ": " + LastErrorText(GetLastError()));
    return true;
}

bool PlaceStandin(const Machine& machine, const Sources& sources, const std::string& system, Record* record) {
    const std::string standin = system + kStandinName;
    const std::string image = system + "\\" + kStandinImageName;
    const std::string description = system + kStandinDescriptionName;
    // Recorded before it is written, so that a half-written file is removed too.
    if (!record->Add({"file", standin}) || !record->Add({"file", image}) || !record->Add({"file", description}))
        return false;
    if (!CopyFileA(sources.standin.c_str(), standin.c_str(), FALSE))
        return Fail("cannot copy the kernel stand-in " + sources.standin + " to " + standin + ": " +
                    LastErrorText(GetLastError()));
    if (machine.hasEnumeratorTime) {
        const provisioner::FileTime& t = machine.enumeratorWritten;
        if (!driver_fixtures::SetLastWriteTime(
                standin, driver_fixtures::UtcFileTime(t.year, t.month, t.day, t.hour, t.minute, t.second)))
            return Fail("cannot set the last-write time of " + standin + ": " + LastErrorText(GetLastError()));
    }
    if (!CopyFileA(sources.image.c_str(), image.c_str(), FALSE))
        return Fail("cannot copy the driver image " + sources.image + " to " + image + ": " +
                    LastErrorText(GetLastError()));
    std::string text = std::string("# Written by the provisioner from the machine file.\r\nimage ") +
                       kStandinImageName + "\r\n" + machine.kernelLists;
    if (!WriteNewFile(description, text.data(), text.size(), CREATE_ALWAYS))
        return Fail("cannot write " + description + ": " + LastErrorText(GetLastError()));
    return true;
}

// *changed tells whether the prefix was touched before a failure (so that the caller knows to
// take the half-made machine away again).
bool Provision(const std::string& machinePath, const Sources& sources, bool* changed) {
    *changed = false;
    std::string text;
    if (!ReadWholeFile(machinePath, &text)) return Fail("cannot read the machine file " + machinePath);
    Machine machine;
    std::string error;
    if (!provisioner::ParseMachineFile(text, &machine, &error)) return Fail(machinePath + ": " + error);
    if (!Exists(sources.standin)) return Fail("no kernel stand-in at " + sources.standin + " (--standin)");
    if (!Exists(sources.image)) return Fail("no enumerator driver image at " + sources.image + " (--image)");

    *changed = true;
    if (!RemoveRecorded()) return Fail("the machine provisioned before could not be removed completely");

    const driver_fixtures::DriverDirectories directories = driver_fixtures::GetDriverDirectories();
    for (const DriverFile& file : machine.files) {
        const std::string path = DirectoryPath(directories, file.directory) + "\\" + file.name;
        if (Exists(path)) return Fail(path + " is already there: the provisioner replaces no file it did not create");
    }

    Record record;
    if (!record.Open() || !record.Add({"machine", machinePath})) return false;
    if (!EnsureDirectory(directories.drivers, &record) || !EnsureDirectory(directories.ioSubSys, &record)) return false;
    for (const DriverFile& file : machine.files) {
        if (!PlaceDriverFile(DirectoryPath(directories, file.directory) + "\\" + file.name, file, &record))
            return false;
    }
    for (const provisioner::DeviceNode& node : machine.nodes) {
        if (!SetStringValue(HKEY_DYN_DATA, kDynamicRootName, std::string(kDeviceNodeRoot) + "\\" + node.name,
                            "HardWareKey", node.hardwareKey, &record))
            return false;
    }
    for (const provisioner::HardwareKey& key : machine.hardwareKeys) {
        const std::string path = std::string(kHardwareRoot) + "\\" + key.path;
        if (key.hasDriver) {
            if (!SetStringValue(HKEY_LOCAL_MACHINE, kMachineRootName, path, "Driver", key.driver, &record))
                return false;
        } else {
            HKEY handle = nullptr;
            if (!CreateKeyPath(HKEY_LOCAL_MACHINE, kMachineRootName, path, &record, &handle)) return false;
            RegCloseKey(handle);
        }
    }
    for (const provisioner::ClassValue& value : machine.classValues) {
        if (!SetStringValue(HKEY_LOCAL_MACHINE, kMachineRootName, std::string(kClassRoot) + "\\" + value.key,
                            value.name, value.data, &record))
            return false;
    }
    if (!PlaceStandin(machine, sources, directories.system, &record)) return false;

    size_t versioned = 0;
    for (const DriverFile& file : machine.files) versioned += file.hasVersion ? 1 : 0;
    printf(
        "Provisioned %s: %u driver files (%u with a version resource), %u device nodes, %u hardware keys, "
        "%u class values, the kernel stand-in in %s\n",
        machinePath.c_str(), static_cast<unsigned>(machine.files.size()), static_cast<unsigned>(versioned),
        static_cast<unsigned>(machine.nodes.size()), static_cast<unsigned>(machine.hardwareKeys.size()),
        static_cast<unsigned>(machine.classValues.size()), directories.system.c_str());
    return true;
}

int Usage() {
    fprintf(stderr,
            "usage: provisioner provision MACHINE_FILE [--standin DLL] [--image LE_FILE]\n"
            "       provisioner restore\n"
            "       provisioner remove\n");
    return 2;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "remove" || command == "restore") {
        if (argc != 2) return Usage();
        const bool done = command == "remove" ? RemoveRecorded() : RestoreDynamicTree();
        return done ? 0 : 1;
    }
    if (command != "provision" || argc < 3) return Usage();
    Sources sources = {BRANTOVIX_STANDIN_PATH, BRANTOVIX_IMAGE_PATH};
    std::string machinePath;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--standin" || arg == "--image") && i + 1 < argc) {
            (arg == "--standin" ? sources.standin : sources.image) = argv[++i];
        } else if (machinePath.empty() && arg.compare(0, 2, "--") != 0) {
            machinePath = arg;
        } else {
            return Usage();
        }
    }
    if (machinePath.empty()) return Usage();
    sources.standin = WindowsPath(sources.standin);
    sources.image = WindowsPath(sources.image);
    bool changed = false;
    if (Provision(WindowsPath(machinePath), sources, &changed)) return 0;
    if (changed) {
        fprintf(stderr, "provisioner: taking the half-provisioned machine away again\n");
        RemoveRecorded();
    }
    return 1;
}
