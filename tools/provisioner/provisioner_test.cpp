// The provisioner as its users run it, in the prefix: what "provision" puts in place, that a
// second "provision" gives the same machine, that "remove" takes everything away again, and
// that it refuses what it must not do without touching the machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry_keys.h"
#include "test_files.h"

namespace {

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\'));
}

std::string WindowsDirectory() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(file);
    return done;
}

std::string ReadText(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

// Runs the provisioner beside this test with the arguments; returns its exit code.
DWORD RunProvisioner(const std::string& arguments) {
    std::string command = "\"" + ProgramDirectory() + "\\provisioner.exe\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xDEADBEEF;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string StringValue(HKEY root, const std::string& path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(no key)";
    char data[1024] = "(sentinel)";
    DWORD size = sizeof data, type = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "(no value)";
    if (type != REG_SZ) return "(not a string)";
    return data;
}

bool FileVersion(const std::string& path, DWORD* ms, DWORD* ls) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return false;
    *ms = fixed->dwFileVersionMS;
    *ls = fixed->dwFileVersionLS;
    return true;
}

SYSTEMTIME LastWrite(const std::string& path) {
    SYSTEMTIME utc = {};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        FileTimeToSystemTime(&found.ftLastWriteTime, &utc);
    }
    return utc;
}

const char kNodeKey[] = "Config Manager\\Enum\\PRVTEST0";
const char kHardwareRoot[] = "Enum\\PRVTEST";
const char kHardwareKey[] = "Enum\\PRVTEST\\*PNP0001\\0000";
const char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class\\PrvTest";
const char kClassKey[] = "System\\CurrentControlSet\\Services\\Class\\PrvTest\\0000";

const char kMachine[] =
    "# a machine of two files\n"
    "file iosubsys PRVTEST1.PDR 4.10.1998.7 1999-07-04 23:30:00\n"
    "file system   prvtest2.vxd -           1995-08-24 12:00:00\n"
    "node PRVTEST0 PRVTEST\\*PNP0001\\0000\n"
    "hardware PRVTEST\\*PNP0001\\0000 PrvTest\\0000\n"
    "class PrvTest\\0000 PortDriver \"prvtest1.pdr, prvtest2.vxd\"\n"
    "module PRVTEST1 3\n"
    "device PRVTEST1\n";

class Provisioner : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = ProgramDirectory() + "\\provisioner_test_machine.txt";
        versioned_ = SystemDirectory() + "\\IoSubSys\\PRVTEST1.PDR";
        unversioned_ = SystemDirectory() + "\\prvtest2.vxd";
        record_ = WindowsDirectory() + "\\PROVISIONED-MACHINE.TXT";
        // A machine the main job left behind goes first (the main job provisions anew each run).
        ASSERT_EQ(RunProvisioner("remove"), 0u);
        ASSERT_FALSE(FileExists(record_));
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHardwareRoot));
        ASSERT_TRUE(WriteText(machine_, kMachine));
    }
    void TearDown() override {
        RunProvisioner("remove");
        DeleteFileA(machine_.c_str());
    }
    // Nothing of the test machine is there.
    void ExpectNothingProvisioned() {
        EXPECT_FALSE(FileExists(versioned_));
        EXPECT_FALSE(FileExists(unversioned_));
        EXPECT_FALSE(FileExists(record_));
        EXPECT_FALSE(KeyExists(HKEY_DYN_DATA, kNodeKey));
        EXPECT_TRUE(KeyExists(HKEY_DYN_DATA, "Config Manager\\Enum"));   // the system's own stays
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHardwareRoot));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassRoot));
    }

    std::string machine_, versioned_, unversioned_, record_;
};

TEST_F(Provisioner, ProvisionsTheMachineTwiceAlikeAndRemovesIt) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(RunProvisioner("provision \"" + machine_ + "\""), 0u);

        DWORD ms = 0, ls = 0;
        ASSERT_TRUE(FileVersion(versioned_, &ms, &ls));
        EXPECT_EQ(ms, 0x0004000Au);
        EXPECT_EQ(ls, (1998u << 16) | 7u);
        SYSTEMTIME t = LastWrite(versioned_);
        EXPECT_EQ(t.wYear, 1999);
        EXPECT_EQ(t.wMonth, 7);
        EXPECT_EQ(t.wDay, 4);
        EXPECT_EQ(t.wHour, 23);
        EXPECT_EQ(t.wMinute, 30);
        ASSERT_TRUE(FileExists(unversioned_));
        DWORD handle = 0;
        EXPECT_EQ(GetFileVersionInfoSizeA(unversioned_.c_str(), &handle), 0u);
        EXPECT_EQ(LastWrite(unversioned_).wYear, 1995);

        EXPECT_EQ(StringValue(HKEY_DYN_DATA, kNodeKey, "HardWareKey"), "PRVTEST\\*PNP0001\\0000");
        EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, kHardwareKey, "Driver"), "PrvTest\\0000");
        EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, kClassKey, "PortDriver"), "prvtest1.pdr, prvtest2.vxd");

        const std::string lists = ReadText(SystemDirectory() + "\\ORV_DE.MACHINE");
        EXPECT_NE(lists.find("image ORV_DE.LE\r\n"), std::string::npos) << lists;
        EXPECT_NE(lists.find("module PRVTEST1 3\ndevice PRVTEST1\n"), std::string::npos) << lists;
        EXPECT_TRUE(FileExists(SystemDirectory() + "\\ORV_DE.VXD"));
        EXPECT_TRUE(FileExists(SystemDirectory() + "\\ORV_DE.LE"));
    }
    ASSERT_EQ(RunProvisioner("remove"), 0u);
    ExpectNothingProvisioned();
    EXPECT_FALSE(FileExists(SystemDirectory() + "\\ORV_DE.VXD"));
    EXPECT_FALSE(FileExists(SystemDirectory() + "\\ORV_DE.MACHINE"));
    EXPECT_EQ(RunProvisioner("remove"), 0u);   // nothing left to remove
}

TEST_F(Provisioner, RefusesToReplaceAFileItDidNotCreate) {
    const std::string foreign = "not the provisioner's";
    ASSERT_TRUE(WriteText(unversioned_, foreign));
    EXPECT_EQ(RunProvisioner("provision \"" + machine_ + "\""), 1u);
    EXPECT_EQ(ReadText(unversioned_), foreign);
    DeleteFileA(unversioned_.c_str());
    ExpectNothingProvisioned();
}

TEST_F(Provisioner, MalformedMachineFileChangesNothing) {
    ASSERT_TRUE(WriteText(machine_, std::string(kMachine) + "file system BAD.VXD 4.10 1999-01-01 00:00:00\n"));
    EXPECT_EQ(RunProvisioner("provision \"" + machine_ + "\""), 1u);
    ExpectNothingProvisioned();
    EXPECT_EQ(RunProvisioner("provision"), 2u);
    EXPECT_EQ(RunProvisioner("unknown"), 2u);
}

// The plug-and-play tree lives in HKEY_DYN_DATA, which a restarted system has lost: "restore"
// builds it again from the record, and does so again harmlessly while it is still there.
TEST_F(Provisioner, RestoreBuildsTheDynamicTreeAgainFromTheRecord) {
    EXPECT_EQ(RunProvisioner("restore"), 0u);   // nothing provisioned: nothing to do
    EXPECT_FALSE(KeyExists(HKEY_DYN_DATA, kNodeKey));
    EXPECT_FALSE(FileExists(record_));

    ASSERT_EQ(RunProvisioner("provision \"" + machine_ + "\""), 0u);
    ASSERT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, kNodeKey), ERROR_SUCCESS);   // as a restart loses it
    ASSERT_FALSE(KeyExists(HKEY_DYN_DATA, kNodeKey));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(RunProvisioner("restore"), 0u);
        EXPECT_EQ(StringValue(HKEY_DYN_DATA, kNodeKey, "HardWareKey"), "PRVTEST\\*PNP0001\\0000");
    }
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, kHardwareKey, "Driver"), "PrvTest\\0000");   // untouched
    ASSERT_EQ(RunProvisioner("remove"), 0u);
    ExpectNothingProvisioned();
}

// A record whose value line lacks its data (as an older provisioner wrote them) cannot be
// restored: "restore" says so and fails; "remove" still takes the machine away.
TEST_F(Provisioner, RestoreFailsForARecordWithoutTheValuesData) {
    ASSERT_TRUE(WriteText(record_, std::string("value\tHKEY_DYN_DATA\t") + kNodeKey + "\tHardWareKey\r\n"));
    EXPECT_EQ(RunProvisioner("restore"), 1u);
    EXPECT_EQ(StringValue(HKEY_DYN_DATA, kNodeKey, "HardWareKey"), "(no key)");
    EXPECT_EQ(RunProvisioner("remove"), 0u);
    ExpectNothingProvisioned();
}

// The record keeps one thing per line and its fields apart by TABs: a value holding a TAB is
// refused before anything of the machine stays behind.
TEST_F(Provisioner, RefusesAValueTheRecordCannotHold) {
    ASSERT_TRUE(WriteText(machine_, std::string(kMachine) + "class PrvTest\\0001 Driver \"a\tb\"\n"));
    EXPECT_EQ(RunProvisioner("provision \"" + machine_ + "\""), 1u);
    ExpectNothingProvisioned();
}

}   // namespace
