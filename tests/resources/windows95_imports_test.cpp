// The import check: every program the product ships imports only functions that Windows 95 as
// first shipped exports, listed with their sources in server/allowed_imports.txt, and only from
// the six system DLLs. An import the system lacks fails the whole load there. The check is also
// run over a fixture DLL of the build's that imports two functions Windows 95 lacks, which it
// must refuse.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "pe_image.h"

namespace {

// Build paths are Unix paths; Wine maps the Unix root to drive Z:.
std::string WindowsPath(const std::string& path) {
    return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                           "version.dll",  "ole32.dll",  "oleaut32.dll"};

// "dll!Function" with the DLL's name in lower case, as imports and list lines are compared.
std::string Key(const std::string& import) {
    const size_t bang = import.find('!');
    return Lower(import.substr(0, bang)) + import.substr(bang);
}

struct AllowedImports {
    std::set<std::string> functions;   // Key()s
    std::vector<std::string> faults;   // lines that are not "DLL!Function source"
};

AllowedImports ReadAllowedImports() {
    AllowedImports allowed;
    std::ifstream list(WindowsPath(ALLOWED_IMPORTS));
    if (!list.good()) allowed.faults.push_back(std::string("cannot read ") + ALLOWED_IMPORTS);
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t end = line.find_first_of(" \t");
        const std::string import = line.substr(0, end);
        const size_t source = end == std::string::npos ? end : line.find_first_not_of(" \t", end);
        if (import.find('!') == std::string::npos || import.find('!') + 1 == import.size())
            allowed.faults.push_back("not DLL!Function: " + line);
        else if (!kSystemDlls.count(Lower(import.substr(0, import.find('!')))))
            allowed.faults.push_back("listed outside the system DLLs: " + line);
        else if (source == std::string::npos)
            allowed.faults.push_back("no source: " + line);
        else
            allowed.functions.insert(Key(import));
    }
    return allowed;
}

// The imports of the image that the list does not allow.
std::vector<std::string> ImportsNotAllowed(const PeImage& image, const AllowedImports& allowed) {
    std::vector<std::string> refused;
    for (const std::string& import : image.Imports())
        if (!allowed.functions.count(Key(import))) refused.push_back(import);
    return refused;
}

std::vector<std::string> ShippedPrograms() {
    std::vector<std::string> programs;
    std::string all = SHIPPED_PROGRAMS;
    for (size_t start = 0; start <= all.size();) {
        size_t end = all.find('|', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) programs.push_back(WindowsPath(all.substr(start, end - start)));
        start = end + 1;
    }
    return programs;
}

TEST(Windows95Imports, EveryLineNamesASystemDllFunctionAndItsSource) {
    AllowedImports allowed = ReadAllowedImports();
    for (const std::string& fault : allowed.faults) ADD_FAILURE() << fault;
    EXPECT_GT(allowed.functions.size(), 50u);
}

TEST(Windows95Imports, EveryShippedProgramImportsOnlyWhatWindows95Exports) {
    const AllowedImports allowed = ReadAllowedImports();
    ASSERT_TRUE(allowed.faults.empty()) << allowed.faults.front();
    const std::vector<std::string> programs = ShippedPrograms();
    ASSERT_FALSE(programs.empty());
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        PeImage image(program);
        ASSERT_TRUE(image.Valid());
        ASSERT_FALSE(image.Imports().empty());
        for (const std::string& import : ImportsNotAllowed(image, allowed))
            ADD_FAILURE() << "imports what Windows 95 as first shipped may lack: " << import;
    }
}

// The fixture imports InterlockedCompareExchange (Windows 98) and VarUI4FromStr (OLE
// Automation 2.20) beside functions Windows 95 has: the check names exactly those two.
TEST(Windows95Imports, CheckRefusesFunctionsWindows95Lacks) {
    const AllowedImports allowed = ReadAllowedImports();
    ASSERT_TRUE(allowed.faults.empty());
    PeImage fixture(WindowsPath(LACKING_IMPORTS_FIXTURE));
    ASSERT_TRUE(fixture.Valid()) << LACKING_IMPORTS_FIXTURE;
    std::set<std::string> refused;
    for (const std::string& import : ImportsNotAllowed(fixture, allowed)) refused.insert(Key(import));
    EXPECT_EQ((std::set<std::string>{"kernel32.dll!InterlockedCompareExchange", "oleaut32.dll!VarUI4FromStr"}),
              refused);
    EXPECT_GT(fixture.Imports().size(), refused.size()) << "the fixture imports allowed functions too";
}

}   // namespace
