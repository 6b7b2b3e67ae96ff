// The enumerator driver client in a program that finds a file of the driver's name where the
// system looks before the system directory: in the program's own directory (where this test
// runs from) and in its current directory, such as a downloads folder a browser runs in. The
// planted file is the marking device (tests/test_device), which leaves a mark when it is
// loaded. Neither may be loaded, nor the deployed file while either is there: the lists stay
// what they are without the driver. With nothing planted, the deployed file answers.
#include <gtest/gtest.h>

#include <string>

#include "enumerator_client.h"
#include "test_device_control.h"

namespace {

// A marking device copied into a directory, removed with its mark at the end of the scope.
class PlantedDevice {
public:
    explicit PlantedDevice(const std::string& directory) : path_(directory + "\\ORV_DE.VXD"), mark_(path_ + ".LOADED") {
        TestDeviceControl::SweepRemoved(path_);
        DeleteFileA(mark_.c_str());
        copied_ = CopyFileA(MARKING_DEVICE, path_.c_str(), FALSE) != FALSE;
    }
    ~PlantedDevice() {
        TestDeviceControl::RemoveFile(path_);
        DeleteFileA(mark_.c_str());
    }
    PlantedDevice(const PlantedDevice&) = delete;
    PlantedDevice& operator=(const PlantedDevice&) = delete;

    bool Copied() const { return copied_; }
    bool Loaded() const { return GetFileAttributesA(mark_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    const std::string& Path() const { return path_; }

private:
    std::string path_, mark_;
    bool copied_;
};

// A directory of the test's own under the temporary directory, removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory() {
        char temporary[MAX_PATH];
        GetTempPathA(MAX_PATH, temporary);
        path_ = std::string(temporary) + "brantovix_planted_" + std::to_string(GetCurrentProcessId());
        created_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    }
    ~ScratchDirectory() { RemoveDirectoryA(path_.c_str()); }
    bool Created() const { return created_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool created_;
};

// The process's current directory set for the scope, and put back.
class CurrentDirectoryAt {
public:
    explicit CurrentDirectoryAt(const std::string& directory) {
        char previous[MAX_PATH];
        DWORD length = GetCurrentDirectoryA(MAX_PATH, previous);
        previous_.assign(previous, length < MAX_PATH ? length : 0);
        set_ = SetCurrentDirectoryA(directory.c_str()) != FALSE;
    }
    ~CurrentDirectoryAt() { SetCurrentDirectoryA(previous_.c_str()); }
    bool Set() const { return set_; }

private:
    std::string previous_;
    bool set_;
};

struct Lists {
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    Lists() { QueryEnumeratorDriver(driverNames, deviceNames); }
};

// What the inventory has when it runs without the driver: both lists empty.
void ExpectTheListsWithoutTheDriver(const Lists& lists) {
    EXPECT_EQ(0u, lists.driverNames.Count()) << "first name: " << lists.driverNames.Name(0);
    EXPECT_EQ(0u, lists.deviceNames.Count());
}

TEST(PlantedDevice, NoFileOfTheDriversNameIsLoadedWhileOneIsPlanted) {
    ASSERT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD")) << "a driver file was loaded before the test";
    TestDeviceControl deployed;
    ASSERT_TRUE(deployed.Deploy()) << TestDeviceControl::FilePath();
    ScratchDirectory downloads;
    ASSERT_TRUE(downloads.Created()) << downloads.Path();

    {
        SCOPED_TRACE("planted in the program's directory and in the current directory");
        PlantedDevice beside(TestDeviceControl::ProgramDirectory());
        PlantedDevice current(downloads.Path());
        ASSERT_TRUE(beside.Copied()) << beside.Path();
        ASSERT_TRUE(current.Copied()) << current.Path();
        CurrentDirectoryAt at(downloads.Path());
        ASSERT_TRUE(at.Set());

        Lists lists;
        EXPECT_FALSE(beside.Loaded()) << "the file in the program's directory was loaded";
        EXPECT_FALSE(current.Loaded()) << "the file in the current directory was loaded";
        ExpectTheListsWithoutTheDriver(lists);
        EXPECT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD")) << "a driver file was loaded";
    }
    {
        SCOPED_TRACE("planted in the current directory only");
        PlantedDevice current(downloads.Path());
        ASSERT_TRUE(current.Copied()) << current.Path();
        CurrentDirectoryAt at(downloads.Path());
        ASSERT_TRUE(at.Set());

        Lists lists;
        EXPECT_FALSE(current.Loaded()) << "the file in the current directory was loaded";
        ExpectTheListsWithoutTheDriver(lists);
        EXPECT_EQ(nullptr, GetModuleHandleA("ORV_DE.VXD")) << "a driver file was loaded";
    }

    // Nothing planted: the deployed file is loaded and answers, whatever the current directory,
    // the system directory itself included.
    ASSERT_TRUE(deployed.Load());
    deployed.Reset();
    ASSERT_TRUE(deployed.AddModule("VXDLDR"));
    ASSERT_TRUE(deployed.AddDevice("VMM"));
    for (const std::string& directory : {downloads.Path(), TestDeviceControl::SystemDirectory()}) {
        SCOPED_TRACE("current directory " + directory);
        CurrentDirectoryAt at(directory);
        ASSERT_TRUE(at.Set());
        Lists lists;
        ASSERT_EQ(1u, lists.driverNames.Count());
        EXPECT_STREQ("VXDLDR", lists.driverNames.Name(0));
        EXPECT_EQ(1u, lists.deviceNames.Count());
    }
}

}   // namespace
