// Several processes create Drivers objects at the same moment right after the enumerator driver
// file was removed, as after a registration. Each client (creation_client.exe) deploys the
// driver file from its own "DRIVER" 201 resource, the kernel stand-in, which the platform here
// loads from the system directory when a client opens the device, as Windows 98 loads the real
// driver: a client that opened a partly written file would get no driver lists and so a shorter
// list. Every client must get the full list, and one whole driver file must stay behind.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "file_aside.h"
#include "test_files.h"
#include "test_handles.h"
#include "windows_version.h"

namespace {

const int kClients = 6;
const DWORD kReadyTimeoutMs = 120000;
const DWORD kFinishTimeoutMs = 240000;
// The kernel stand-in's own version block, 4.0.0.950: the driver file is stamped and, loaded,
// reports itself among the dynamically loaded drivers, so a whole deployed file is listed.
const char kDriverLine[] = "ORV_DE.VXD=04.00.00.0950";

// The "DRIVER" 201 resource as the client executable carries it.
std::string ClientDriverResource() {
    HMODULE client = LoadLibraryExA(CREATION_CLIENT, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!client) return std::string();
    std::string bytes;
    HRSRC resource = FindResourceA(client, MAKEINTRESOURCEA(201), "DRIVER");
    HGLOBAL loaded = resource ? LoadResource(client, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data) bytes.assign(data, SizeofResource(client, resource));
    FreeLibrary(client);
    return bytes;
}

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.find_last_of("\\/"));
}

class ClientRun {
public:
    ClientRun(const std::string& startEvent, const std::string& readySemaphore, const std::string& output)
        : output_(output),
          process_(std::string("\"") + CREATION_CLIENT + "\" " + startEvent + " " + readySemaphore + " \"" + output +
                   "\"") {}
    ~ClientRun() { DeleteFileA(output_.c_str()); }
    ClientRun(const ClientRun&) = delete;
    ClientRun& operator=(const ClientRun&) = delete;

    bool started() const { return process_.started(); }
    bool Finish(DWORD milliseconds) { return process_.Finish(milliseconds); }
    DWORD ExitCode() const { return process_.ExitCode(); }
    std::string List() const { return ReadFileBytes(output_); }

private:
    std::string output_;
    ChildProcess process_;
};

class ConcurrentCreation : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InWindows98Mode());
        // The platform would take a driver file beside the client before the system directory's.
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((DirectoryOf(CREATION_CLIENT) + "\\ORV_DE.VXD").c_str()));
        resource_ = ClientDriverResource();
        ASSERT_FALSE(resource_.empty()) << "the client carries no DRIVER 201 resource";
        // The stand-in's machine description, beside it in the system directory: only its image.
        std::ofstream(description_, std::ios::binary) << "image " << ORV_DE_IMAGE << "\r\n";
        ASSERT_FALSE(descriptionAside_.Absent());
        ASSERT_TRUE(driverAside_.Absent());
        before_ = DirectoryNames(directory_);
    }
    void TearDown() override {
        DeleteFileA(driverFile_.c_str());
        DeleteFileA(description_.c_str());
    }

    // Starts `count` clients, waits until all have started, then lets them create their objects
    // at once; returns when all have finished.
    void RunAtOnce(std::vector<std::unique_ptr<ClientRun>>& clients, int count) {
        const std::string tag = std::to_string(GetCurrentProcessId());
        const std::string startName = "BrantovixCreationStart" + tag;
        const std::string readyName = "BrantovixCreationReady" + tag;
        const KernelObject start(CreateEventA(nullptr, TRUE, FALSE, startName.c_str()));
        const KernelObject ready(CreateSemaphoreA(nullptr, 0, count, readyName.c_str()));
        ASSERT_TRUE(start && ready);
        char temporary[MAX_PATH];
        GetTempPathA(MAX_PATH, temporary);
        for (int i = 0; i < count; ++i) {
            std::string output =
                std::string(temporary) + "brantovix_creation_" + tag + "_" + std::to_string(++clientsStarted_) + ".txt";
            clients.emplace_back(new ClientRun(startName, readyName, output));
            ASSERT_TRUE(clients.back()->started()) << GetLastError();
        }
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), kReadyTimeoutMs));
        }
        SetEvent(start.get());
        for (auto& client : clients) {
            ASSERT_TRUE(client->Finish(kFinishTimeoutMs)) << "a client hung";
            EXPECT_EQ(0u, client->ExitCode());
        }
    }

    const std::string directory_ = SystemDirectory();
    const std::string driverFile_ = directory_ + "\\ORV_DE.VXD";
    const std::string description_ = directory_ + "\\ORV_DE.MACHINE";
    FileAside driverAside_{driverFile_};   // what was there before comes back afterwards
    FileAside descriptionAside_{description_};
    std::string resource_;
    std::set<std::string> before_;
    int clientsStarted_ = 0;   // numbers every client's output file
};

TEST_F(ConcurrentCreation, ClientsCreatingAtOnceAllGetTheFullListAndLeaveOneWholeDriverFile) {
    std::vector<std::unique_ptr<ClientRun>> racing;
    RunAtOnce(racing, kClients);
    if (HasFatalFailure()) return;

    // One whole driver file, the resource byte for byte, and nothing else new in the directory.
    EXPECT_TRUE(ReadFileBytes(driverFile_) == resource_) << "the driver file differs from the resource";
    EXPECT_EQ(std::set<std::string>{"ORV_DE.VXD"}, NamesAddedTo(directory_, before_));

    // The full list: what one more client gets alone, with the driver file in place.
    std::vector<std::unique_ptr<ClientRun>> alone;
    RunAtOnce(alone, 1);
    if (HasFatalFailure()) return;
    const std::string full = alone[0]->List();
    ASSERT_NE(std::string::npos, full.find(std::string(kDriverLine) + "\n")) << full;
    for (size_t i = 0; i < racing.size(); ++i) EXPECT_EQ(full, racing[i]->List()) << "client " << i;
}

}   // namespace
