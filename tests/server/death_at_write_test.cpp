// A process that ends at any write: death_at_write.exe runs one step of Brantovix.dll and ends
// its own process immediately before, or immediately after, the DLL's Nth write to the registry
// or the file system (import_hooks.h says what counts as a write), for N = 1, 2, ... until a run
// ends by itself without reaching N. The steps: a creation on a cold machine (no cache key, no
// driver file); a creation on a warm machine whose driver files changed since the cache was
// written; DllRegisterServer on a machine where the class is not registered; DllUnregisterServer
// where it is.
//
// After every death, what is left must serve the next run exactly:
//   - the stored cache is whole (stored_cache_check.h), before and after the next creation;
//   - ORV_DE.VXD is whole or absent, and whole after the next creation (written again);
//   - a fresh process creates the object, and its list equals the clean machine's, element for
//     element;
//   - for the registration steps, regsvr32 then leaves the registry exactly as one clean
//     registration does, and regsvr32 /u exactly as one clean unregistration does.
//
// The deaths of one step are spread over cases of their own (every `slices`-th N from a
// different start), so that the executable's shards each stay within the time limit.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "death_at_write.h"
#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_machine.h"
#include "server_test_support.h"
#include "stored_cache_check.h"

namespace {

using Snapshot = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

enum class Step { kColdCreation, kWarmCreation, kRegister, kUnregister };

struct DeathCase {
    Step step;
    bool after;   // dies immediately after the write, not before it
    int slice;    // this case tries N = slice + 1, slice + 1 + slices, ...
    int slices;
};

const char* StepName(Step step) {
    switch (step) {
    case Step::kColdCreation:
        return "ColdCreation";
    case Step::kWarmCreation:
        return "WarmCreation";
    case Step::kRegister:
        return "Register";
    case Step::kUnregister:
        return "Unregister";
    }
    return "?";
}

const char* StepArgument(Step step) {
    switch (step) {
    case Step::kColdCreation:
    case Step::kWarmCreation:
        return "create";
    case Step::kRegister:
        return "register";
    case Step::kUnregister:
        return "unregister";
    }
    return "?";
}

std::string CaseName(const ::testing::TestParamInfo<DeathCase>& info) {
    return std::string(StepName(info.param.step)) + (info.param.after ? "After" : "Before") + "Write_" +
           std::to_string(info.param.slice + 1) + "of" + std::to_string(info.param.slices);
}

// How many cases share a step's deaths: the registration steps write far more than a creation,
// and each of their deaths costs two regsvr32 runs more.
std::vector<DeathCase> AllCases() {
    const struct {
        Step step;
        int slices;
    } steps[] = {{Step::kColdCreation, 2}, {Step::kWarmCreation, 1}, {Step::kRegister, 5}, {Step::kUnregister, 3}};
    std::vector<DeathCase> cases;
    for (const auto& s : steps) {
        for (bool after : {false, true}) {
            for (int slice = 0; slice < s.slices; ++slice) cases.push_back({s.step, after, slice, s.slices});
        }
    }
    return cases;
}

// Every key the product's registration writes under HKEY_CLASSES_ROOT, with its values.
const char* const kRegistrationRoots[] = {
    "Brantovix.Drivers.1",
    "Brantovix.Drivers",
    "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}",
    "TypeLib\\{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}",
    "Interface\\{8C41D7B2-E035-11D2-A6F1-0050DA17B3C9}",
    "Component Categories\\{B93E1F57-72A4-11D2-8C5D-00A0C9E48B12}",
    "Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
    "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
};
const std::string kClassKey = "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";

Snapshot RegistrationSnapshot() {
    Snapshot all;
    for (const char* root : kRegistrationRoots) {
        const Snapshot part = SnapshotKey(HKEY_CLASSES_ROOT, root);
        all.insert(part.begin(), part.end());
    }
    return all;
}

std::string Differences(const Snapshot& expected, const Snapshot& actual) {
    std::string text;
    for (const auto& entry : expected) {
        auto found = actual.find(entry.first);
        if (found == actual.end()) {
            text += "missing: " + entry.first + "\n";
        } else if (found->second != entry.second) {
            text += "changed: " + entry.first + "\n";
        }
    }
    for (const auto& entry : actual) {
        if (!expected.count(entry.first)) text += "added: " + entry.first + "\n";
    }
    return text;
}

DWORD RunRegsvr32(const char* options) {
    return RunProgram(std::string("regsvr32 ") + options + " \"" + ServerDllPath() + "\"");
}

std::string Join(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class DeathAtEveryWrite : public ::testing::TestWithParam<DeathCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        comInitialised_ = true;
        ASSERT_NE(nullptr, server_.module) << ServerDllPath();
        registerServer_ =
            reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server_.module, "DllRegisterServer")));
        unregisterServer_ =
            reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server_.module, "DllUnregisterServer")));
        ASSERT_TRUE(registerServer_ && unregisterServer_);
        wasRegistered_ = KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32");
        for (const char* root : kRegistrationRoots) existed_.push_back(KeyExists(HKEY_CLASSES_ROOT, root));

        HRSRC resource = FindResourceA(server_.module, MAKEINTRESOURCEA(201), "DRIVER");
        ASSERT_NE(nullptr, resource) << "the DLL carries its enumerator driver";
        const char* image = static_cast<const char*>(LockResource(LoadResource(server_.module, resource)));
        driverImage_.assign(image, SizeofResource(server_.module, resource));
        driverFile_ = DeployedDriverPath();
        systemDirectory_ = driver_fixtures::GetDriverDirectories().system;
        char temporary[MAX_PATH];
        GetTempPathA(MAX_PATH, temporary);
        output_ = std::string(temporary) + "death_at_write_" + std::to_string(GetCurrentProcessId()) + ".txt";

        // The clean registration and unregistration, as regsvr32 leaves them.
        const Step step = GetParam().step;
        if (step == Step::kRegister || step == Step::kUnregister) {
            ASSERT_EQ(0u, RunRegsvr32("/s"));
            registered_ = RegistrationSnapshot();
            ASSERT_EQ(0u, RunRegsvr32("/u /s"));
            unregistered_ = RegistrationSnapshot();
            ASSERT_NE(registered_, unregistered_);
        }

        // Driver files of the test's own, named by a device node of its own.
        tag_ = "W" + std::to_string(GetCurrentProcessId() % 100000);
        ASSERT_TRUE(PlaceOwn("A.VXD", {4, 10, 0, 2222}, driver_fixtures::UtcFileTime(1999, 4, 23, 22, 22)));
        ASSERT_TRUE(PlaceOwn("B.DRV", {5, 0, 2195, 1}, driver_fixtures::UtcFileTime(2000, 2, 17, 8, 0)));
        ASSERT_TRUE(PlaceOwn("C.SYS", {4, 10, 0, 1998}, driver_fixtures::UtcFileTime(1998, 5, 11, 0, 0)));
        tree_.AddChain("DEATHS", "DEATHS");
        tree_.SetClassValue("DEATHS", "DeviceVxDs",
                            tag_ + "A.VXD," + tag_ + "B.DRV," + tag_ + "C.SYS," + tag_ + "D.386");

        if (GetParam().step == Step::kWarmCreation) {
            // The cache as a run wrote it, then the files changed: one replaced by another version,
            // one given a new time, one removed, one added.
            driver_fixtures::DeleteCacheKey();
            Lines list;
            ASSERT_TRUE(RunList(&list));
            ASSERT_TRUE(driver_fixtures::ReadCacheTree(&warmValues_, &warmKeys_));
            ASSERT_TRUE(PlaceOwn("A.VXD", {4, 10, 0, 2223}, driver_fixtures::UtcFileTime(2001, 1, 2, 3, 4)));
            ASSERT_TRUE(PlaceOwn("B.DRV", {5, 0, 2195, 1}, driver_fixtures::UtcFileTime(2001, 6, 7, 8, 9)));
            ASSERT_TRUE(DeleteFileA((systemDirectory_ + "\\" + tag_ + "C.SYS").c_str()));
            ASSERT_TRUE(PlaceOwn("D.386", {4, 0, 0, 950}, driver_fixtures::UtcFileTime(1999, 11, 5, 0, 0)));
        }

        // The clean machine's list: the step's starting state, run through without a death.
        ASSERT_NO_FATAL_FAILURE(Prepare());
        ASSERT_TRUE(RunList(&cleanList_));
        ASSERT_FALSE(cleanList_.empty());
        const std::string text = Join(cleanList_);
        ASSERT_NE(std::string::npos, text.find(tag_ + "A.VXD=")) << text;
    }

    void TearDown() override {
        const Step step = GetParam().step;
        if (registerServer_ && (step == Step::kRegister || step == Step::kUnregister)) {
            if (wasRegistered_) {
                EXPECT_EQ(0u, RunRegsvr32("/s"));
            } else {
                RunRegsvr32("/u /s");
                for (size_t i = 0; i < existed_.size(); ++i) {
                    if (!existed_[i]) DeleteKeyTree(HKEY_CLASSES_ROOT, kRegistrationRoots[i]);
                }
            }
        }
        DeleteFileA(output_.c_str());
        if (comInitialised_) CoUninitialize();
    }

    bool PlaceOwn(const std::string& name, const driver_fixtures::FileVersion& version, const FILETIME& lastWrite) {
        return files_.Place(systemDirectory_, tag_ + name, driver_fixtures::BuildVersionedPe(version), lastWrite) != "";
    }

    // The state the step starts from.
    void Prepare() {
        switch (GetParam().step) {
        case Step::kColdCreation:
            driver_fixtures::DeleteCacheKey();
            DeleteFileA(driverFile_.c_str());
            break;
        case Step::kWarmCreation:
            driver_fixtures::WriteCacheTree(warmValues_, warmKeys_);
            WriteFileBytes(driverFile_, driverImage_);
            ASSERT_TRUE(DriverFileWhole());
            break;
        case Step::kRegister:
            ASSERT_EQ(S_OK, unregisterServer_());
            ASSERT_EQ(unregistered_, RegistrationSnapshot());
            WriteFileBytes(driverFile_, driverImage_);
            ASSERT_TRUE(DriverFileWhole());
            break;
        case Step::kUnregister:
            ASSERT_EQ(S_OK, registerServer_());
            ASSERT_EQ(registered_, RegistrationSnapshot()) << Differences(registered_, RegistrationSnapshot());
            WriteFileBytes(driverFile_, driverImage_);
            ASSERT_TRUE(DriverFileWhole());
            break;
        }
    }

    // Runs death_at_write.exe; its exit code, and what it wrote to its output.
    DWORD RunChild(const char* step, int dieAt, bool after, Lines* output) {
        DeleteFileA(output_.c_str());
        const DWORD started = GetTickCount();
        const DWORD code = RunProgram("\"" + WindowsPath(DEATH_AT_WRITE) + "\" " + step + " " + std::to_string(dieAt) +
                                      (after ? " after" : " before") + " \"" + output_ + "\"");
        printf("death_at_write %s %d %s: exit 0x%lx, %lu ms\n", step, dieAt, after ? "after" : "before",
               static_cast<unsigned long>(code), static_cast<unsigned long>(GetTickCount() - started));
        fflush(stdout);
        output->clear();
        std::ifstream file(output_.c_str());
        for (std::string line; std::getline(file, line);) output->push_back(line);
        return code;
    }

    // A fresh process creates the object: its list, element by element.
    bool RunList(Lines* list) {
        Lines output;
        if (RunChild("list", 0, false, &output) != 0 || output.empty()) return false;
        list->assign(output.begin() + 1, output.end());
        return true;
    }

    // The system directory's files that a run left beside the driver file: temporary copies that
    // a process ended between their creation and their move could not remove. No run takes them
    // for the driver; they are removed here so that they do not pile up.
    int RemoveTemporaryCopies() {
        int removed = 0;
        for (const std::string& name : DirectoryNames(systemDirectory_, true)) {
            if (name.size() == 11 && name.compare(0, 3, "ORV") == 0 && name.compare(7, 4, ".TMP") == 0) {
                DeleteFileA((systemDirectory_ + "\\" + name).c_str());
                ++removed;
            }
        }
        return removed;
    }

    bool DriverFileWhole() const { return FileExists(driverFile_) && ReadFileBytes(driverFile_) == driverImage_; }

    using Export = HRESULT(STDAPICALLTYPE*)();
    MachineStateGuard machine_;
    driver_fixtures::CacheKeyBackup cacheBackup_;
    LoadedServer server_;
    bool comInitialised_ = false;
    Export registerServer_ = nullptr;
    Export unregisterServer_ = nullptr;
    bool wasRegistered_ = false;
    std::vector<bool> existed_;
    driver_fixtures::PlacedFiles files_;
    device_tree_fixture::DeviceTree tree_;
    std::string tag_, driverFile_, driverImage_, systemDirectory_, output_;
    std::vector<RegistryTreeValue> warmValues_;
    std::vector<std::string> warmKeys_;
    Snapshot registered_, unregistered_;
    Lines cleanList_;
};

TEST_P(DeathAtEveryWrite, WhatIsLeftIsWholeAndTheNextRunIsExact) {
    const DeathCase c = GetParam();
    const bool registration = c.step == Step::kRegister || c.step == Step::kUnregister;
    int deaths = 0, copiesLeft = 0, writes = -1;
    for (int dieAt = c.slice + 1;; dieAt += c.slices) {
        SCOPED_TRACE(std::string("death ") + (c.after ? "after" : "before") + " write " + std::to_string(dieAt));
        ASSERT_NO_FATAL_FAILURE(Prepare());
        Lines output;
        const DWORD code = RunChild(StepArgument(c.step), dieAt, c.after, &output);
        if (code == 0) {
            // The step ran to its end without reaching write N: every write has been tried.
            ASSERT_FALSE(output.empty());
            ASSERT_EQ(1, sscanf(output[0].c_str(), "writes %d", &writes)) << output[0];
            EXPECT_LT(writes, dieAt) << "the step reached write " << dieAt << " and did not die there";
            break;
        }
        ASSERT_EQ(kDiedAtWrite, code) << "the step failed by itself";
        ++deaths;

        // What the death left.
        EXPECT_TRUE(StoredCacheIsWhole()) << "as the death left it";
        EXPECT_TRUE(!FileExists(driverFile_) || DriverFileWhole()) << "a partial driver file";
        copiesLeft += RemoveTemporaryCopies();

        // The next run, in a fresh process.
        Lines list;
        ASSERT_TRUE(RunList(&list));
        EXPECT_EQ(cleanList_, list) << "the clean machine's list:\n"
                                    << Join(cleanList_) << "this list:\n"
                                    << Join(list);
        EXPECT_TRUE(StoredCacheIsWhole()) << "after the next run";
        EXPECT_TRUE(DriverFileWhole()) << "the next run writes the driver file whole";

        if (registration) {
            EXPECT_EQ(0u, RunRegsvr32("/s"));
            const Snapshot afterRegistration = RegistrationSnapshot();
            EXPECT_EQ(registered_, afterRegistration) << Differences(registered_, afterRegistration);
            EXPECT_EQ(0u, RunRegsvr32("/u /s"));
            const Snapshot afterUnregistration = RegistrationSnapshot();
            EXPECT_EQ(unregistered_, afterUnregistration) << Differences(unregistered_, afterUnregistration);
        }
        if (HasFailure()) break;
    }
    printf(
        "%s, deaths %s the write: %d tried (every %d-th from %d; the step makes %d writes); %d temporary "
        "copies left by a death\n",
        StepName(c.step), c.after ? "after" : "before", deaths, c.slices, c.slice + 1, writes, copiesLeft);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DeathAtEveryWrite, ::testing::ValuesIn(AllCases()), CaseName);

}   // namespace
