// Which ORV_DE.VXD the system would load, decided on a file system described in memory: the
// device is opened only when the deployed file in the system directory is the first one the
// search finds, and the rule gives up (opens nothing) whenever it cannot be sure.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "device_file_rule.h"

namespace {

using device_file_rule::DeviceFileLookup;
using device_file_rule::FileState;
using device_file_rule::kPathCapacity;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A machine described by its paths. Names compare without regard to case; a byte 0x81 is a
// lead byte whose trail byte may be a backslash.
struct Machine : DeviceFileLookup {
    std::string program = "C:\\PROGRAMS\\CLIENT.EXE";
    std::string current = "C:\\DOWNLOADS";
    std::string system = "C:\\WINDOWS\\SYSTEM";
    bool programFails = false, currentFails = false, systemFails = false;
    std::set<std::string> files = {"C:\\WINDOWS\\SYSTEM\\ORV_DE.VXD"};
    std::set<std::string> unknown;                   // paths whose presence cannot be told
    std::map<std::string, std::string> shortForms;   // long directory -> its 8.3 form
    mutable std::set<std::string> asked;             // every path whose state was asked

    static uint32_t Answer(const std::string& path, char* out, uint32_t capacity) {
        if (path.size() + 1 > capacity) return static_cast<uint32_t>(path.size() + 1);
        std::memcpy(out, path.c_str(), path.size() + 1);
        return static_cast<uint32_t>(path.size());
    }
    uint32_t ProgramPath(char* out, uint32_t capacity) const override {
        return programFails ? 0 : Answer(program, out, capacity);
    }
    uint32_t CurrentDirectory(char* out, uint32_t capacity) const override {
        return currentFails ? 0 : Answer(current, out, capacity);
    }
    uint32_t SystemDirectory(char* out, uint32_t capacity) const override {
        return systemFails ? 0 : Answer(system, out, capacity);
    }
    uint32_t ShortPath(const char* path, char* out, uint32_t capacity) const override {
        std::string text = path;
        if (text.size() > 3 && text.back() == '\\') text.pop_back();
        auto found = shortForms.find(Upper(text));
        return Answer(found == shortForms.end() ? path : found->second, out, capacity);
    }
    FileState StateOf(const char* path) const override {
        asked.insert(Upper(path));
        if (unknown.count(Upper(path))) return FileState::kUnknown;
        for (const std::string& file : files)
            if (Upper(file) == Upper(path)) return FileState::kPresent;
        return FileState::kAbsent;
    }
    const char* Next(const char* text) const override {
        if (!*text) return text;
        if (static_cast<unsigned char>(*text) == 0x81 && text[1]) return text + 2;
        return text + 1;
    }
    int CompareNoCase(const char* left, const char* right) const override {
        return Upper(left) == Upper(right) ? 0 : 1;
    }
};

struct RuleCase {
    const char* what;
    void (*arrange)(Machine&);
    bool opens;
};

TEST(DeviceFileRule, OpensOnlyWhenTheDeployedFileIsTheFirstFound) {
    static const std::string s_long(kPathCapacity, 'A');
    const RuleCase cases[] = {
        {"the deployed file alone", [](Machine&) {}, true},
        {"no deployed file: the search would go on to the Windows directory and PATH",
         [](Machine& m) { m.files.clear(); }, false},
        {"a file in the program's directory", [](Machine& m) { m.files.insert("C:\\PROGRAMS\\ORV_DE.VXD"); }, false},
        {"a file in the current directory, name in lower case",
         [](Machine& m) { m.files.insert("c:\\downloads\\orv_de.vxd"); }, false},
        {"a program in a drive's root beside a file",
         [](Machine& m) {
             m.program = "C:\\CLIENT.EXE";
             m.files.insert("C:\\ORV_DE.VXD");
         },
         false},
        {"the current directory is a drive's root without a file", [](Machine& m) { m.current = "D:\\"; }, true},
        {"the current directory is a drive's root with a file",
         [](Machine& m) {
             m.current = "D:\\";
             m.files.insert("D:\\ORV_DE.VXD");
         },
         false},
        {"the current directory is the system directory, other case and a final backslash",
         [](Machine& m) { m.current = "c:\\windows\\system\\"; }, true},
        {"the program runs from the system directory",
         [](Machine& m) { m.program = "C:\\WINDOWS\\SYSTEM\\RUNDLL32.EXE"; }, true},
        {"the current directory is the system directory by its long name",
         [](Machine& m) {
             m.system = "C:\\WINDOW~1\\SYSTEM";
             m.files = {"C:\\WINDOW~1\\SYSTEM\\ORV_DE.VXD", "C:\\Windows Folder\\System\\ORV_DE.VXD"};
             m.current = "C:\\Windows Folder\\System";
             m.shortForms["C:\\WINDOWS FOLDER\\SYSTEM"] = "C:\\WINDOW~1\\SYSTEM";
         },
         true},
        {"a long name whose short form cannot be had is not taken for the system directory",
         [](Machine& m) {
             m.system = "C:\\WINDOW~1\\SYSTEM";
             m.files = {"C:\\WINDOW~1\\SYSTEM\\ORV_DE.VXD", "C:\\Windows Folder\\System\\ORV_DE.VXD"};
             m.current = "C:\\Windows Folder\\System";
         },
         false},
        {"a directory whose presence of the file cannot be told",
         [](Machine& m) { m.unknown.insert("C:\\DOWNLOADS\\ORV_DE.VXD"); }, false},
        {"the program's path cannot be read", [](Machine& m) { m.programFails = true; }, false},
        {"the current directory cannot be read", [](Machine& m) { m.currentFails = true; }, false},
        {"the system directory cannot be read", [](Machine& m) { m.systemFails = true; }, false},
        {"a program path without a backslash", [](Machine& m) { m.program = "CLIENT.EXE"; }, false},
        {"a current directory too long to read", [](Machine& m) { m.current = "C:\\" + s_long; }, false},
        {"a current directory that leaves no room for the file name",
         [](Machine& m) { m.current = "C:\\" + s_long.substr(0, kPathCapacity - 10); }, false},
        {"a trail byte with a backslash's value is no separator",
         [](Machine& m) {
             // The program is "<0x81 0x5C>CLIENT.EXE" in C:\TOOLS; a byte-wise search for the
             // last backslash would look in a directory "C:\TOOLS\<0x81>" instead.
             m.program = "C:\\TOOLS\\\x81\\CLIENT.EXE";
             m.files.insert("C:\\TOOLS\\\x81\\ORV_DE.VXD");
         },
         true},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        Machine machine;
        c.arrange(machine);
        EXPECT_EQ(c.opens, device_file_rule::OnlyTheDeployedFileCanLoad(machine));
    }
}

// The directories the system searches before its own are the ones looked at.
TEST(DeviceFileRule, LooksInTheProgramsAndTheCurrentDirectory) {
    Machine machine;
    ASSERT_TRUE(device_file_rule::OnlyTheDeployedFileCanLoad(machine));
    EXPECT_EQ((std::set<std::string>{"C:\\WINDOWS\\SYSTEM\\ORV_DE.VXD", "C:\\PROGRAMS\\ORV_DE.VXD",
                                     "C:\\DOWNLOADS\\ORV_DE.VXD"}),
              machine.asked);
}

}   // namespace
