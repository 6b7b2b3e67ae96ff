#include "enumerator_request_cases.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "enumerator_protocol.h"

namespace enumerator_cases {
namespace {

std::string Dword(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// A device-name entry: the 8 bytes of the name field and a zero.
std::string Entry(std::string name) {
    name.resize(ENUMDRV_DEVICE_NAME_BYTES, ' ');
    return name + std::string(1, '\0');
}

// A module record: the load count, then 16 name bytes, zero after a shorter name.
std::string Record(uint8_t loadCount, const std::string& name) {
    std::string record(ENUMDRV_MODULE_RECORD_SIZE, '\0');
    record[ENUMDRV_MODULE_LOAD_COUNT_OFFSET] = static_cast<char>(loadCount);
    record.replace(ENUMDRV_MODULE_NAME_OFFSET, std::min<size_t>(name.size(), ENUMDRV_MODULE_NAME_BYTES),
                   name.substr(0, ENUMDRV_MODULE_NAME_BYTES));
    return record;
}

std::vector<std::string> Padded(std::vector<std::string> names) {
    for (std::string& name : names) name.resize(ENUMDRV_DEVICE_NAME_BYTES, ' ');
    return names;
}

// A chain of n descriptor blocks, D0, D1, ... and the driver's own last.
std::vector<std::string> Chain(size_t n) {
    std::vector<std::string> names;
    for (size_t i = 0; i + 1 < n; ++i) names.push_back("D" + std::to_string(i));
    names.push_back("ORV_DE");
    return Padded(names);
}

std::string Hex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

bool Unhex(const std::string& text, std::string* bytes) {
    bytes->clear();
    if (text == "-") return true;
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end) return false;
        *bytes += static_cast<char>(value);
    }
    return true;
}

bool Number(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end || parsed > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// A small machine with the driver loaded: module names shorter than, exactly and longer than
// the record's 16 name bytes, load counts up to 255.
const SystemLists kSmallMachine{
    "small machine",
    {{"VPOWERD", 1}, {"SIXTEEN_CHARS_16", 2}, {"A_NAME_LONGER_THAN_16", 255}, {"ORV_DE", 1}},
    Padded({"VMM", "IOS", "ORV_DE"})};
const SystemLists kHeapExhausted{"the small machine with no heap left", kSmallMachine.modules, kSmallMachine.devices,
                                 true};
const SystemLists kUnnamedModule{"a module record without a name", {{"", 7, false}}, Padded({"VMM"})};
const SystemLists kNoLists{"no module loaded and no descriptor block", {}, {}};
const SystemLists kChainOf256{"a chain of 256 descriptor blocks", {{"ORV_DE", 1}}, Chain(256)};
const SystemLists kChainOf257{"a chain of 257 descriptor blocks", {{"ORV_DE", 1}}, Chain(257)};

std::vector<RequestCase> BuildCases() {
    const std::string untouched;
    const std::string smallNames = Entry("VMM") + Entry("IOS") + Entry("ORV_DE");
    std::string chain256Names;
    for (const std::string& name : kChainOf256.devices) chain256Names += Entry(name);

    std::vector<RequestCase> cases = {
        // Version.
        {"version with 3 bytes", &kSmallMachine, ENUMDRV_GET_VERSION, "", false, 3, false,
         ENUMDRV_STATUS_VERSION_NO_ROOM, 0, untouched},
        {"version with 4 bytes", &kSmallMachine, ENUMDRV_GET_VERSION, "", false, 4, false, ENUMDRV_STATUS_SUCCESS, 4,
         Dword(ENUMDRV_VERSION)},
        {"version into a null output", &kSmallMachine, ENUMDRV_GET_VERSION, "", false, 2304, true,
         ENUMDRV_STATUS_VERSION_NO_ROOM, 0, untouched},

        // Module records by index.
        {"module 0, a name shorter than 16", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0), false, 17, false,
         ENUMDRV_STATUS_SUCCESS, 17, Record(1, "VPOWERD")},
        {"module 1, a name of 16: no terminator", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(1), false, 17, false,
         ENUMDRV_STATUS_SUCCESS, 17, Record(2, "SIXTEEN_CHARS_16")},
        {"module 2, a longer name: its first 16", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(2), false, 17, false,
         ENUMDRV_STATUS_SUCCESS, 17, Record(255, "A_NAME_LONGER_TH")},
        {"module 3, the driver itself, its name last in system memory", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(3),
         false, 17, false, ENUMDRV_STATUS_SUCCESS, 17, Record(1, "ORV_DE")},
        {"module record into more space than it needs", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0), false, 64, false,
         ENUMDRV_STATUS_SUCCESS, 17, Record(1, "VPOWERD")},
        {"module index one past the last", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(4), false, 17, false,
         ENUMDRV_STATUS_INDEX_PAST_END, 0, untouched},
        {"module index 0xFFFFFFFF", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0xFFFFFFFFu), false, 17, false,
         ENUMDRV_STATUS_INDEX_PAST_END, 0, untouched},
        {"module index of 3 bytes", &kSmallMachine, ENUMDRV_GET_MODULE, std::string(3, '\0'), false, 17, false,
         ENUMDRV_STATUS_BAD_BUFFERS, 0, untouched},
        {"module record into 16 bytes", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0), false, 16, false,
         ENUMDRV_STATUS_BAD_BUFFERS, 0, untouched},
        {"module index from a null input", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0), true, 2304, false,
         ENUMDRV_STATUS_BAD_BUFFERS, 0, untouched},
        {"module record into a null output", &kSmallMachine, ENUMDRV_GET_MODULE, Dword(0), false, 2304, true,
         ENUMDRV_STATUS_BAD_BUFFERS, 0, untouched},

        // Device names.
        {"device names of a chain of 3; the input is ignored", &kSmallMachine, ENUMDRV_GET_DEVICE_NAMES,
         std::string("\1\2\3", 3), false, 2304, false, ENUMDRV_STATUS_SUCCESS, 27, smallNames},
        {"device names into exactly their 27 bytes", &kSmallMachine, ENUMDRV_GET_DEVICE_NAMES, "", false, 27, false,
         ENUMDRV_STATUS_SUCCESS, 27, smallNames},
        {"device names into 26 bytes: the bytes needed", &kSmallMachine, ENUMDRV_GET_DEVICE_NAMES, "", false, 26, false,
         27, 0, untouched},
        {"device names into no space: the bytes needed", &kSmallMachine, ENUMDRV_GET_DEVICE_NAMES, "", false, 0, false,
         27, 0, untouched},
        {"device names into a null output: the bytes needed", &kSmallMachine, ENUMDRV_GET_DEVICE_NAMES, "", false, 2304,
         true, 27, 0, untouched},

        // Notifications and codes the driver does not know.
        {"open notification", &kSmallMachine, ENUMDRV_DIOC_OPEN, "", false, 16, false, ENUMDRV_STATUS_SUCCESS,
         kByteCountUntouched, untouched},
        {"close notification", &kSmallMachine, ENUMDRV_DIOC_CLOSEHANDLE, "", false, 16, false, ENUMDRV_STATUS_SUCCESS,
         kByteCountUntouched, untouched},
        {"a code not listed", &kSmallMachine, ENUMDRV_FIRST_UNASSIGNED_CODE, std::string("\1\2\3\4", 4), false, 64,
         false, ENUMDRV_STATUS_SUCCESS, 0, untouched},

        // The walks without scratch memory.
        {"module record with no heap left", &kHeapExhausted, ENUMDRV_GET_MODULE, Dword(0), false, 17, false,
         ENUMDRV_STATUS_NO_MEMORY, 0, untouched},
        {"device names with no heap left", &kHeapExhausted, ENUMDRV_GET_DEVICE_NAMES, "", false, 2304, false,
         ENUMDRV_STATUS_NO_MEMORY, 0, untouched},

        // Lists of unusual shapes.
        {"a module without a name: an empty name", &kUnnamedModule, ENUMDRV_GET_MODULE, Dword(0), false, 17, false,
         ENUMDRV_STATUS_SUCCESS, 17, Record(7, "")},
        {"module record with no module loaded", &kNoLists, ENUMDRV_GET_MODULE, Dword(0), false, 17, false,
         ENUMDRV_STATUS_NO_LIST, 0, untouched},
        {"device names of an empty chain", &kNoLists, ENUMDRV_GET_DEVICE_NAMES, "", false, 2304, false,
         ENUMDRV_STATUS_NO_LIST, 0, untouched},
        {"device names of a chain of 256: the whole reply", &kChainOf256, ENUMDRV_GET_DEVICE_NAMES, "", false, 2304,
         false, ENUMDRV_STATUS_SUCCESS, 2304, chain256Names},
        {"device names of a chain of 257", &kChainOf257, ENUMDRV_GET_DEVICE_NAMES, "", false, 2304, false,
         ENUMDRV_STATUS_NO_LIST, 0, untouched},
    };
    return cases;
}

}   // namespace

const std::vector<RequestCase>& RequestCases() {
    static const std::vector<RequestCase> kCases = BuildCases();
    return kCases;
}

bool StandinCanShow(const SystemLists& system) {
    if (system.heapExhausted) return false;
    bool moduleListed = false, deviceListed = false;
    for (const LoadedModule& m : system.modules) {
        if (!m.hasName || m.name.empty()) return false;
        moduleListed = moduleListed || m.name == "ORV_DE";
    }
    for (const std::string& d : system.devices) deviceListed = deviceListed || d == "ORV_DE  ";
    return moduleListed && deviceListed;
}

std::string MachineDescription(const SystemLists& system) {
    std::string text = "# " + system.name + "\n";
    for (const LoadedModule& m : system.modules) text += "module " + m.name + " " + std::to_string(m.loadCount) + "\n";
    for (const std::string& d : system.devices) text += "device " + d.substr(0, d.find(' ')) + "\n";
    return text;
}

std::string Mismatch(const RequestCase& c, const RequestOutcome& outcome) {
    std::string what;
    if (outcome.status != c.status) what += "status " + Hex32(outcome.status) + ", not " + Hex32(c.status) + "; ";
    if (outcome.byteCount != c.byteCount)
        what += "byte count " + Hex32(outcome.byteCount) + ", not " + Hex32(c.byteCount) + "; ";
    if (outcome.outsideWritten) what += "written outside the output; ";
    if (!c.nullOutput) {
        std::string expected = c.reply;
        expected.resize(c.outputSize, static_cast<char>(kUnwritten));
        if (outcome.output != expected) what += "output " + Hex(outcome.output) + ", not " + Hex(expected) + "; ";
    }
    return what;
}

GuardedOutput::GuardedOutput(uint32_t size, bool null) : bytes_(kGuard + size + kGuard, kUnwritten), null_(null) {}

void GuardedOutput::Read(RequestOutcome* outcome) const {
    if (!null_) outcome->output.assign(bytes_.begin() + kGuard, bytes_.end() - kGuard);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        const bool inside = !null_ && i >= kGuard && i < bytes_.size() - kGuard;
        if (!inside && bytes_[i] != kUnwritten) outcome->outsideWritten = true;
    }
}

std::string RequestLine(const RequestCase& c) {
    std::string line = Hex32(c.code) + " " + Hex(c.input);
    if (c.nullInput) line += " null-input";
    line += " " + std::to_string(c.outputSize);
    if (c.nullOutput) line += " null-output";
    return line;
}

bool ParseRequestLine(const std::string& line, ParsedRequest* request) {
    std::istringstream words(line);
    std::string code, input, word;
    *request = ParsedRequest();
    if (!(words >> code >> input) || !Number(code, &request->code) || !Unhex(input, &request->input)) return false;
    if (!(words >> word)) return false;
    if (word == "null-input") {
        request->nullInput = true;
        if (!(words >> word)) return false;
    }
    if (!Number(word, &request->outputSize)) return false;
    if (words >> word) {
        if (word != "null-output") return false;
        request->nullOutput = true;
    }
    return !(words >> word);
}

std::string OutcomeLine(const RequestOutcome& outcome) {
    std::string line = Hex32(outcome.status) + " " + Hex32(outcome.byteCount) + " " + Hex(outcome.output);
    if (outcome.outsideWritten) line += " outside";
    return line;
}

bool ParseOutcomeLine(const std::string& line, RequestOutcome* outcome) {
    std::istringstream words(line);
    std::string status, count, output, word;
    *outcome = RequestOutcome();
    if (!(words >> status >> count >> output) || !Number(status, &outcome->status) ||
        !Number(count, &outcome->byteCount) || !Unhex(output, &outcome->output))
        return false;
    if (words >> word) {
        if (word != "outside") return false;
        outcome->outsideWritten = true;
    }
    return !(words >> word);
}

}   // namespace enumerator_cases
