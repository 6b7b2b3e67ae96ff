// Writes the binary seed corpora of the fuzz drivers from a machine file, as the component
// meets those bytes on that machine:
//   device_lists/         its plug-and-play values (the lists and key paths the scan reads,
//                         with the length the registry reports) and the enumerator driver's
//                         replies on its lists: every module record, the device-name reply
//   version_cache_image/  the cache image a first inventory of its driver files writes, with
//                         paths that hit its first and last entry, one that is absent and one
//                         that is the leading part of a stored path
//   enumerator_requests/  its two system lists with the requests the inventory's client sends,
//                         and with the driver's other requests and short buffers
// The replies come from the enumerator driver's own logic on the machine's lists.
//
//   fuzz_seed_writer MACHINE_FILE OUTPUT_DIR
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver_extensions.h"
#include "enumerator_logic.h"
#include "enumerator_requests_input.h"
#include "machine_file.h"
#include "memory_kernel.h"

namespace {

std::string g_output;

void Write(const std::string& folder, const std::string& name, const std::string& bytes) {
    const std::string dir = g_output + "/" + folder;
    mkdir(g_output.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    std::ofstream file(dir + "/" + name, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
        exit(1);
    }
}

std::string Dword(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
}

// device_lists input: a selector byte (bit 1: replies, else value text; bit 0 clear: the
// length as given), the reported length, the data.
std::string DeviceListsInput(bool replies, uint32_t reported, const std::string& data) {
    return std::string(1, replies ? 2 : 0) + Dword(reported) + data;
}

// The enumerator driver's answer to one request on `kernel`.
std::string Ask(uint32_t code, uint32_t index, uint32_t outputSize) {
    std::vector<uint8_t> output(outputSize);
    const std::string input = Dword(index);
    uint32_t count = 0;
    EnumeratorRequest request{code,  reinterpret_cast<const uint8_t*>(input.data()), 4, output.data(), outputSize,
                              &count};
    if (EnumeratorHandleRequest(&request) != ENUMDRV_STATUS_SUCCESS) return std::string();
    return std::string(output.begin(), output.begin() + count);
}

void WriteDeviceLists(const provisioner::Machine& machine) {
    // The values the plug-and-play scan reads: the file lists of the class keys, the class key
    // paths of the hardware keys and the hardware key paths of the device nodes; a string
    // value's reported length counts its terminator.
    const std::set<std::string> listValues = {"Driver", "DeviceVxDs", "PortDriver", "MTD", "MouseDriver"};
    std::vector<std::string> values;
    std::string allNames;
    for (const provisioner::ClassValue& value : machine.classValues) {
        if (!listValues.count(value.name)) continue;
        values.push_back(value.data);
        allNames += (allNames.empty() ? "" : ",") + value.data;
    }
    values.push_back(allNames);   // one class key naming every file at once
    for (const provisioner::HardwareKey& key : machine.hardwareKeys) {
        if (key.hasDriver) values.push_back(key.driver);
    }
    for (const provisioner::DeviceNode& node : machine.nodes) values.push_back(node.hardwareKey);
    std::set<std::string> written;
    int n = 0;
    for (const std::string& value : values) {
        if (!written.insert(value).second) continue;
        char name[32];
        snprintf(name, sizeof name, "value_%02d", n++);
        Write("device_lists", name, DeviceListsInput(false, static_cast<uint32_t>(value.size() + 1), value + '\0'));
    }

    // The replies of the enumerator driver on the machine's lists.
    std::string records;
    for (uint32_t index = 0;; ++index) {
        const std::string record = Ask(ENUMDRV_GET_MODULE, index, ENUMDRV_MODULE_RECORD_SIZE);
        if (record.empty()) break;
        records += record;
    }
    Write("device_lists", "module_records", DeviceListsInput(true, ENUMDRV_MODULE_RECORD_SIZE, records));
    const std::string names = Ask(ENUMDRV_GET_DEVICE_NAMES, 0, ENUMDRV_DEVICE_REPLY_CAPACITY);
    Write("device_lists", "device_names", DeviceListsInput(true, static_cast<uint32_t>(names.size()), names));
}

// Days from 1601-01-01 to the date (proleptic Gregorian).
int64_t DaysSince1601(int year, int month, int day) {
    year -= month <= 2;
    const int64_t era = year / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t fromEpoch1970 = era * 146097 + doe - 719468;
    return fromEpoch1970 + 134774;   // 1601-01-01 to 1970-01-01
}

uint64_t FileTime(const provisioner::FileTime& t) {
    const int64_t seconds = DaysSince1601(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return static_cast<uint64_t>(seconds) * 10000000u;
}

// The version stamp text: four numbers, the third and fourth exchanged when the build number
// was stored first.
std::string Stamp(const provisioner::DriverFile& file) {
    if (!file.hasVersion) return std::string();
    unsigned c = file.version[2], d = file.version[3];
    if (c > 99 && d <= 99) std::swap(c, d);
    char text[32];
    snprintf(text, sizeof text, "%02u.%02u.%02u.%04u", static_cast<unsigned>(file.version[0]),
             static_cast<unsigned>(file.version[1]), c, d);
    return text;
}

// One entry: the path, 9 device name bytes, the stamp's first 13 bytes zero-filled, the
// last-write time low and high, two zero bytes.
std::string CacheEntry(const std::string& path, const std::string& stamp, uint64_t time) {
    std::string entry = path + std::string(9, '\0');
    std::string field = stamp.substr(0, 13);
    field.resize(13, '\0');
    entry += field + Dword(static_cast<uint32_t>(time)) + Dword(static_cast<uint32_t>(time >> 32));
    return entry + std::string(2, '\0');
}

void WriteCacheImages(const provisioner::Machine& machine) {
    // A first inventory on Windows 98 scans the system directory, the Windows directory's
    // System32\Drivers and the system directory's IoSubSys, extension by extension; every file it
    // finds gets an entry, also one without a version resource. The component's own
    // enumerator driver file lies in the system directory.
    const char* const kDirectories[] = {"C:\\WINDOWS\\SYSTEM\\", "C:\\WINDOWS\\System32\\Drivers\\",
                                        "C:\\WINDOWS\\SYSTEM\\IoSubSys\\"};
    const provisioner::DriverDirectory kOrder[] = {provisioner::DriverDirectory::kSystem,
                                                   provisioner::DriverDirectory::kDrivers,
                                                   provisioner::DriverDirectory::kIoSubSys};
    std::vector<provisioner::DriverFile> files = machine.files;
    if (machine.hasEnumeratorTime) {
        provisioner::DriverFile enumerator;
        enumerator.name = "ORV_DE.VXD";
        enumerator.hasVersion = true;
        const uint16_t version[4] = {4, 0, 0, 950};
        memcpy(enumerator.version, version, sizeof version);
        enumerator.lastWrite = machine.enumeratorWritten;
        files.push_back(enumerator);
    }
    std::string image;
    std::vector<std::string> paths;
    for (int d = 0; d < 3; ++d) {
        for (const char* extension : kDriverExtensions) {
            for (const provisioner::DriverFile& file : files) {
                if (file.directory != kOrder[d]) continue;
                std::string upper = file.name;
                for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
                const size_t length = strlen(extension);
                if (upper.size() < length || upper.compare(upper.size() - length, length, extension) != 0) continue;
                const std::string path = kDirectories[d] + file.name;
                paths.push_back(path);
                image += CacheEntry(path, Stamp(file), FileTime(file.lastWrite));
            }
        }
    }
    // version_cache_image input: the path's length in one byte, the path, the image.
    auto input = [&image](const std::string& path) {
        return std::string(1, static_cast<char>(path.size())) + path + image;
    };
    Write("version_cache_image", "hit_first", input(paths.front()));
    Write("version_cache_image", "hit_last", input(paths.back()));
    Write("version_cache_image", "absent", input("C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD"));
    Write("version_cache_image", "leading_part", input(paths.front().substr(0, paths.front().size() - 1)));
}

void WriteRequestRuns(const provisioner::Machine& lists) {
    using namespace enumerator_requests;
    auto machine = [&lists](InputWriter& w) {
        w.Byte(static_cast<uint32_t>(lists.modules.size()));
        for (const LoadedModule& m : lists.modules) w.Module(m.name, m.loadCount);
        w.Devices(lists.devices);
    };
    // The inventory's client: module records by index until the list ends, then the device
    // names into its 2304-byte list.
    InputWriter client;
    machine(client);
    for (uint32_t index = 0; index <= lists.modules.size(); ++index) client.Request(0, 4, 17, index);
    client.Request(1, 0, 2304, 0);
    Write("enumerator_requests", "client_run", client.Bytes());

    // The open and close notifications, the version, an unknown code, and requests whose
    // buffers are too short or absent.
    InputWriter other;
    machine(other);
    other.Request(3, 0, 0, 0);
    other.Request(2, 0, 4, 0);
    other.Request(2, 0, 3, 0);
    other.Request(5, 4, 64, 0);
    other.Request(0, 3, 17, 0);
    other.Request(0, 4, 16, 0);
    other.Request(1, 0, static_cast<uint32_t>(lists.devices.size()) * 9 - 1, 0);
    other.Request(1, 0, 0, 0);
    other.Request(4, 0, 0, 0);
    Write("enumerator_requests", "other_requests", other.Bytes());

    // Buffers given as null pointers with sizes that would fit the replies: nothing may be
    // read or written through them (a fault found by this driver).
    InputWriter nullBuffers;
    machine(nullBuffers);
    nullBuffers.Request(0, 4, 17, 0, kNull, kOutExact);
    nullBuffers.Request(0, 4, 17, 0, kExact, kOutNull);
    nullBuffers.Request(2, 0, 4, 0, kExact, kOutNull);
    nullBuffers.Request(1, 0, 2304, 0, kExact, kOutNull);
    Write("enumerator_requests", "null_buffers", nullBuffers.Bytes());

    // The same client on a machine with no loaded device at all.
    InputWriter empty;
    empty.Byte(0);
    empty.Devices({});
    empty.Request(0, 4, 17, 0);
    empty.Request(1, 0, 2304, 0);
    Write("enumerator_requests", "empty_machine", empty.Bytes());
}

}   // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: fuzz_seed_writer MACHINE_FILE OUTPUT_DIR\n");
        return 2;
    }
    g_output = argv[2];
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    provisioner::Machine machine;
    std::string error;
    if (!in || !provisioner::ParseMachineFile(text.str(), &machine, &error)) {
        fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    // While the driver answers, it is in both lists itself.
    provisioner::Machine lists = machine;
    provisioner::AddLoadedDriver(&lists, "ORV_DE", "ORV_DE");

    MemoryKernel kernel;
    const std::vector<LoadedModule>& modules = lists.modules;
    kernel.SetModules(modules);
    kernel.SetDevices(lists.devices);
    MemoryKernel::Use(&kernel);

    WriteDeviceLists(machine);
    WriteCacheImages(machine);
    WriteRequestRuns(lists);
    MemoryKernel::Use(nullptr);
    return 0;
}
