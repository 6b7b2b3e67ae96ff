#include "machine_file.h"

#include <cctype>

namespace provisioner {
namespace {

// Words are separated by blanks or TABs; the CR of a CR LF line end is a blank.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// Splits off the first word of text; the rest, trimmed, goes to *rest (which may be text).
std::string FirstWord(const std::string& text, std::string* rest) {
    size_t end = 0;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    std::string word = text.substr(0, end);
    *rest = Trim(text.substr(end));
    return word;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The rest of a line as a value: taken as it stands, or between double quotes when it
// begins with one (so that a value may be empty or begin or end with blanks).
bool RestValue(const std::string& rest, std::string* value, std::string* problem) {
    if (rest.empty() || rest[0] != '"') {
        *value = rest;
        return true;
    }
    size_t close = rest.find('"', 1);
    if (close == std::string::npos) {
        *problem = "unterminated quoted value";
        return false;
    }
    if (close + 1 != rest.size()) {
        *problem = "text after the closing quote";
        return false;
    }
    *value = rest.substr(1, close - 1);
    return true;
}

// A registry key path relative to a root: parts separated by "\", none empty, at most
// 255 characters each, no control characters.
bool IsKeyPath(const std::string& path) {
    if (path.empty() || path.size() > 1023) return false;
    size_t part = 0;
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (c == '\\') {
            if (part == 0) return false;
            part = 0;
        } else if (++part > 255) {
            return false;
        }
    }
    return part != 0;
}

bool IsFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        for (char bad : std::string("\\/:*?\"<>|"))
            if (c == bad) return false;
    }
    return true;
}

bool ParseNumber(const std::string& text, unsigned max, unsigned* value) {
    if (text.empty() || text.size() > 5) return false;
    unsigned v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > max) return false;
    *value = v;
    return true;
}

// "a.b.c.d", each part 0 to 65535.
bool ParseVersion(const std::string& text, uint16_t version[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find('.', at) : text.size();
        if (end == std::string::npos) return false;
        unsigned part = 0;
        if (!ParseNumber(text.substr(at, end - at), 65535, &part)) return false;
        version[i] = static_cast<uint16_t>(part);
        at = end + 1;
    }
    return true;
}

// "YYYY-MM-DD" and "HH:MM:SS", a real date from 1601 (where file times begin) to 9999.
bool ParseTime(const std::string& date, const std::string& time, FileTime* out) {
    unsigned year, month, day, hour, minute, second;
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
    if (time.size() != 8 || time[2] != ':' || time[5] != ':') return false;
    if (!ParseNumber(date.substr(0, 4), 9999, &year) || !ParseNumber(date.substr(5, 2), 12, &month) ||
        !ParseNumber(date.substr(8, 2), 31, &day) || !ParseNumber(time.substr(0, 2), 23, &hour) ||
        !ParseNumber(time.substr(3, 2), 59, &minute) || !ParseNumber(time.substr(6, 2), 59, &second))
        return false;
    if (year < 1601 || month < 1 || day < 1) return false;
    static const unsigned kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
    out->year = static_cast<uint16_t>(year);
    out->month = static_cast<uint16_t>(month);
    out->day = static_cast<uint16_t>(day);
    out->hour = static_cast<uint16_t>(hour);
    out->minute = static_cast<uint16_t>(minute);
    out->second = static_cast<uint16_t>(second);
    return true;
}

bool Refuse(std::string* problem, const std::string& what) {
    *problem = what;
    return false;
}

// "module NAME [COUNT]": the rest after the keyword.
bool ParseModule(const std::string& rest, LoadedModule* module, std::string* problem) {
    std::string countText;
    module->name = FirstWord(rest, &countText);
    if (module->name.empty()) return Refuse(problem, "module needs a name");
    if (module->name.size() > 255) return Refuse(problem, "module name longer than 255 characters");
    if (countText.empty()) return true;
    std::string extra;
    const std::string number = FirstWord(countText, &extra);
    if (!extra.empty()) return Refuse(problem, "module line has more than a name and a load count");
    unsigned value = 0;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || (value = value * 10 + (c - '0')) > 255)
            return Refuse(problem, "load count must be a number from 0 to 255, not " + number);
    }
    module->loadCount = static_cast<uint8_t>(value);
    return true;
}

// "device NAME": the rest after the keyword; the name comes back padded to 8 bytes.
bool ParseDevice(const std::string& rest, std::string* name, std::string* problem) {
    std::string extra;
    *name = FirstWord(rest, &extra);
    if (name->empty()) return Refuse(problem, "device needs a name");
    if (!extra.empty()) return Refuse(problem, "device name with blanks inside");
    if (name->size() > 8) return Refuse(problem, "device name longer than 8 characters: " + *name);
    name->resize(8, ' ');
    return true;
}

bool ParseDirectory(const std::string& word, DriverDirectory* directory) {
    if (word == "system")
        *directory = DriverDirectory::kSystem;
    else if (word == "drivers")
        *directory = DriverDirectory::kDrivers;
    else if (word == "iosubsys")
        *directory = DriverDirectory::kIoSubSys;
    else
        return false;
    return true;
}

}   // namespace

bool ParseMachineFile(const std::string& text, Machine* machine, std::string* error, MachineText kind) {
    *machine = Machine();
    Machine result;
    const bool description = kind == MachineText::kStandinDescription;
    size_t lineNumber = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        auto fail = [&](const std::string& what) {
            *error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (line.find('\0') != std::string::npos) return fail("a zero byte in the line");
        if (line.empty() || line[0] == '#') continue;
        std::string rest;
        std::string keyword = FirstWord(line, &rest);
        std::string problem;
        if (keyword == "module") {
            LoadedModule module;
            if (!ParseModule(rest, &module, &problem)) return fail(problem);
            if (result.modules.size() >= kMaxListEntries) return fail("too many modules");
            result.modules.push_back(module);
            result.kernelLists += line + '\n';
        } else if (keyword == "device") {
            std::string name;
            if (!ParseDevice(rest, &name, &problem)) return fail(problem);
            if (result.devices.size() >= kMaxListEntries) return fail("too many devices");
            result.devices.push_back(name);
            result.kernelLists += line + '\n';
        } else if (keyword == "image" && description) {
            if (rest.empty()) return fail("image needs a path");
            if (!result.image.empty()) return fail("a second image line");
            result.image = rest;
        } else if (description) {
            return fail("unknown line: " + keyword);
        } else if (keyword == "file") {
            std::string words[5];
            std::string tail = rest;
            for (std::string& word : words) word = FirstWord(tail, &tail);
            if (words[4].empty() || !tail.empty())
                return fail("a file line is: file DIRECTORY NAME VERSION|- YYYY-MM-DD HH:MM:SS");
            DriverFile file;
            if (!ParseDirectory(words[0], &file.directory))
                return fail("unknown directory " + words[0] + " (system, drivers or iosubsys)");
            if (!IsFileName(words[1])) return fail("not a file name: " + words[1]);
            file.name = words[1];
            if (words[2] != "-") {
                if (!ParseVersion(words[2], file.version))
                    return fail("not a file version a.b.c.d (each 0 to 65535): " + words[2]);
                file.hasVersion = true;
            }
            if (!ParseTime(words[3], words[4], &file.lastWrite))
                return fail("not a UTC time YYYY-MM-DD HH:MM:SS from 1601: " + words[3] + " " + words[4]);
            for (const DriverFile& other : result.files)
                if (other.directory == file.directory && EqualNoCase(other.name, file.name))
                    return fail("a second file " + file.name + " in the same directory");
            result.files.push_back(file);
        } else if (keyword == "node") {
            DeviceNode node;
            std::string value;
            node.name = FirstWord(rest, &value);
            if (node.name.empty() || node.name.find('\\') != std::string::npos || !IsKeyPath(node.name))
                return fail("a node line is: node NAME HARDWAREKEY");
            if (!RestValue(value, &node.hardwareKey, &problem)) return fail(problem);
            for (const DeviceNode& other : result.nodes)
                if (EqualNoCase(other.name, node.name)) return fail("a second node " + node.name);
            result.nodes.push_back(node);
        } else if (keyword == "hardware") {
            HardwareKey key;
            std::string value;
            key.path = FirstWord(rest, &value);
            if (!IsKeyPath(key.path)) return fail("a hardware line is: hardware KEYPATH [DRIVER]");
            if (!value.empty()) {
                if (!RestValue(value, &key.driver, &problem)) return fail(problem);
                key.hasDriver = true;
            }
            for (const HardwareKey& other : result.hardwareKeys)
                if (EqualNoCase(other.path, key.path)) return fail("a second hardware key " + key.path);
            result.hardwareKeys.push_back(key);
        } else if (keyword == "class") {
            ClassValue value;
            std::string tail;
            value.key = FirstWord(rest, &tail);
            value.name = FirstWord(tail, &tail);
            if (!IsKeyPath(value.key) || value.name.empty() || value.name.size() > 255)
                return fail("a class line is: class KEYPATH VALUENAME DATA");
            if (!RestValue(tail, &value.data, &problem)) return fail(problem);
            for (const ClassValue& other : result.classValues)
                if (EqualNoCase(other.key, value.key) && EqualNoCase(other.name, value.name))
                    return fail("a second value " + value.name + " of class key " + value.key);
            result.classValues.push_back(value);
        } else if (keyword == "enumerator") {
            std::string date, time, tail;
            date = FirstWord(rest, &tail);
            time = FirstWord(tail, &tail);
            if (time.empty() || !tail.empty()) return fail("an enumerator line is: enumerator YYYY-MM-DD HH:MM:SS");
            if (result.hasEnumeratorTime) return fail("a second enumerator line");
            if (!ParseTime(date, time, &result.enumeratorWritten))
                return fail("not a UTC time YYYY-MM-DD HH:MM:SS from 1601: " + date + " " + time);
            result.hasEnumeratorTime = true;
        } else if (keyword == "image") {
            return fail("no image line here: the provisioner puts the built driver image in place");
        } else {
            return fail("unknown line: " + keyword);
        }
    }
    *machine = result;
    return true;
}

void AddLoadedDriver(Machine* machine, const std::string& moduleName, const std::string& ddbName) {
    bool listed = false;
    for (const LoadedModule& m : machine->modules) listed = listed || EqualNoCase(m.name, moduleName);
    if (!listed) machine->modules.push_back({moduleName, 1});
    std::string padded = ddbName;
    padded.resize(8, ' ');
    listed = false;
    for (const std::string& d : machine->devices) listed = listed || d == padded;
    if (!listed) machine->devices.push_back(padded);
}

}   // namespace provisioner
