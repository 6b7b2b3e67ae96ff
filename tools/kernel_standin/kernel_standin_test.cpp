// The kernel stand-in end to end: a client process opens "\\.\ORV_DE.vxd" as the inventory
// does; the platform loads the stand-in (ORV_DE.VXD, beside the client), which hosts the
// LE image the build produced on the emulated kernel with the lists of the machine
// description beside it. Each case runs in a directory of its own, removed afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "driver_image_file.h"
#include "enumerator_request_cases.h"
#include "file_aside.h"

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

std::string ReadText(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

class KernelStandin : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        static int serial = 0;
        directory_ = std::string(temp) + "orv_de_standin_" + std::to_string(GetCurrentProcessId()) + "_" +
                     std::to_string(++serial) + "\\";
        ASSERT_TRUE(CreateDirectoryA(directory_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA(KERNEL_STANDIN_CLIENT, (directory_ + "client.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(INVENTORY_CLIENT_PROBE, (directory_ + "inventory.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(KERNEL_STANDIN_DLL, (directory_ + "ORV_DE.VXD").c_str(), FALSE));
    }
    void TearDown() override {
        for (const char* name :
             {"client.exe", "inventory.exe", "ORV_DE.VXD", "ORV_DE.LE", "ORV_DE.MACHINE", "output.txt", "requests.txt"})
            DeleteFileA((directory_ + name).c_str());
        EXPECT_TRUE(RemoveDirectoryA(directory_.c_str())) << "left behind: " << directory_;
    }
    void PlaceImage() { ASSERT_TRUE(CopyFileA(ORV_DE_IMAGE, (directory_ + "ORV_DE.LE").c_str(), FALSE)); }
    void Describe(const std::string& text) { ASSERT_TRUE(WriteText(directory_ + "ORV_DE.MACHINE", text)); }

    // Runs a client program in the directory; returns its output lines.
    std::vector<std::string> RunClient(const char* program = "client.exe", const std::string& arguments = "") {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        std::string outputPath = directory_ + "output.txt";
        HANDLE output =
            CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(output, INVALID_HANDLE_VALUE);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        PROCESS_INFORMATION process{};
        std::string command = "\"" + directory_ + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, directory_.c_str(),
                                      &startup, &process);
        CloseHandle(output);
        EXPECT_TRUE(started) << GetLastError();
        if (!started) return {};
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);

        std::vector<std::string> lines;
        std::string text = ReadText(outputPath), line;
        for (char c : text) {
            if (c == '\r') continue;
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        if (!line.empty()) lines.push_back(line);
        return lines;
    }

    std::string directory_;
};

TEST_F(KernelStandin, ClientReadsTheDescribedListsWithTheDriverItselfAppended) {
    PlaceImage();
    Describe(
        "# a small machine\n"
        "module VPOWERD 1\n"
        "module NDIS 3\n"
        "module A_NAME_LONGER_THAN_16\n"
        "device VMM\n"
        "device IOS\n");
    std::vector<std::string> expected = {
        "version 1 4 0x00000100", "module 0 1 VPOWERD",   "module 1 3 NDIS",         "module 2 1 A_NAME_LONGER_TH",
        "module 3 1 ORV_DE",      "end 4 0 0 0xFFFFFFFE", "devices 1 27 0x00000000", "device [VMM     ]",
        "device [IOS     ]",      "device [ORV_DE  ]",    "no room 0 0 27",          "close 1",
    };
    EXPECT_EQ(RunClient(), expected);
}

// Every case of the request table that the stand-in can show, sent by a client process through
// the platform's DeviceIoControl. The stand-in shows only lists a machine description gives
// (StandinCanShow), and the platform hands it only codes whose high word is 0 (any other goes to
// the system's own device control), so the close notification is not among them.
TEST_F(KernelStandin, AnswersEveryRequestCaseItCanShow) {
    using namespace enumerator_cases;
    PlaceImage();
    std::vector<const SystemLists*> systems;
    for (const RequestCase& c : RequestCases())
        if (std::find(systems.begin(), systems.end(), c.system) == systems.end()) systems.push_back(c.system);
    size_t sent = 0;
    for (const SystemLists* system : systems) {
        if (!StandinCanShow(*system)) continue;
        SCOPED_TRACE(system->name);
        std::vector<const RequestCase*> cases;
        std::string requests;
        for (const RequestCase& c : RequestCases()) {
            if (c.system != system || (c.code >> 16) != 0) continue;
            cases.push_back(&c);
            requests += RequestLine(c) + "\n";
        }
        Describe(MachineDescription(*system));
        ASSERT_TRUE(WriteText(directory_ + "requests.txt", requests));
        std::vector<std::string> lines = RunClient("client.exe", "requests.txt");
        ASSERT_EQ(lines.size(), cases.size());
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i]->name);
            RequestOutcome outcome;
            ASSERT_TRUE(ParseOutcomeLine(lines[i], &outcome)) << lines[i];
            EXPECT_EQ(Mismatch(*cases[i], outcome), "");
        }
        sent += cases.size();
    }
    EXPECT_GT(sent, 0u);
}

// The stand-in, its image and its description moved from the case's directory into the system
// directory for the scope, then removed; whatever the system directory held comes back.
class InSystemDirectory {
public:
    explicit InSystemDirectory(const std::string& from) {
        char system[MAX_PATH];
        UINT length = GetSystemDirectoryA(system, MAX_PATH);
        for (const char* name : {"ORV_DE.VXD", "ORV_DE.LE", "ORV_DE.MACHINE"}) {
            const std::string to = std::string(system, length) + "\\" + name;
            asides_.emplace_back(new FileAside(to));
            if (!MoveFileA((from + name).c_str(), to.c_str())) moved_ = false;
            placed_.push_back(to);
        }
    }
    ~InSystemDirectory() {
        for (const std::string& path : placed_) DeleteFileA(path.c_str());
    }
    bool Moved() const { return moved_; }

private:
    std::vector<std::unique_ptr<FileAside>> asides_;
    std::vector<std::string> placed_;
    bool moved_ = true;
};

// The inventory's own client, as the product runs it, against the real driver image. The client
// lets the platform load only the system directory's ORV_DE.VXD, so the stand-in goes there.
TEST_F(KernelStandin, InventoryClientFillsItsListsFromTheRealDriver) {
    PlaceImage();
    Describe(
        "module VPOWERD 1\n"
        "module SIXTEEN_CHARS_16 2\n"
        "device VMM\n"
        "device IOS\n");
    InSystemDirectory installed(directory_);
    ASSERT_TRUE(installed.Moved());
    std::vector<std::string> lines = RunClient("inventory.exe");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "driver VPOWERD");
    EXPECT_EQ(lines[1].rfind("driver SIXTEEN_CHARS_1", 0), 0u) << lines[1];   // what a slot keeps of 16
    EXPECT_EQ(lines[2], "driver ORV_DE");
    std::vector<std::string> devices(lines.begin() + 3, lines.end());
    EXPECT_EQ(devices, (std::vector<std::string>{"device [VMM     ]", "device [IOS     ]", "device [ORV_DE  ]",
                                                 "match ORV_DE.VXD 3 IOS 2"}));
}

TEST_F(KernelStandin, DescriptionPlacesTheDriverAndNamesAnImageElsewhere) {
    Describe(std::string("image ") + ORV_DE_IMAGE +
             "\n"
             "module orv_de 2\n"
             "module IOS\n"
             "device ORV_DE\n"
             "device VMM\n");
    std::vector<std::string> lines = RunClient();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[1], "module 0 2 orv_de");
    EXPECT_EQ(lines[2], "module 1 1 IOS");
    EXPECT_EQ(lines[3], "end 2 0 0 0xFFFFFFFE");
    EXPECT_EQ(lines[4], "devices 1 18 0x00000000");
    EXPECT_EQ(lines[5], "device [ORV_DE  ]");
    EXPECT_EQ(lines[6], "device [VMM     ]");
}

TEST_F(KernelStandin, ChainsOf256And257Devices) {
    for (int devices : {255, 256}) {   // the driver's own block makes 256 and 257
        SCOPED_TRACE(devices);
        PlaceImage();
        std::string text;
        for (int i = 0; i < devices; ++i) text += "device D" + std::to_string(i) + "\n";
        Describe(text);
        std::vector<std::string> lines = RunClient();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[1], "module 0 1 ORV_DE");
        EXPECT_EQ(lines[3], devices == 255 ? "devices 1 2304 0x00000000" : "devices 0 0 0xFFFFFFFF");
    }
}

TEST_F(KernelStandin, OpenFailsWithoutAnImageOrWithABadDescription) {
    struct Case {
        bool image;
        const char* description;
    };
    const Case cases[] = {
        {false, "module IOS\n"},             // no image to host
        {true, "module IOS\nvolume C:\n"},   // unknown keyword
        {true, "device TOOLONGNAME\n"},      // longer than 8
        {true, "module IOS 256\n"},          // load count out of range
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        DeleteFileA((directory_ + "ORV_DE.LE").c_str());
        if (c.image) PlaceImage();
        Describe(c.description);
        std::vector<std::string> lines = RunClient();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("open failed ", 0), 0u) << lines[0];
    }
}

// The stand-in loads the image as the system would: a descriptor block without the signature
// 'Prev' is refused, and so is the client's open.
TEST_F(KernelStandin, OpenFailsForAnImageWhoseDescriptorBlockLacksItsSignature) {
    std::vector<uint8_t> image = driver_image_file::Read(ORV_DE_IMAGE);
    const size_t block = driver_image_file::DescriptorBlockOffset(image);
    ASSERT_NE(block, 0u);
    const char swapped[] = "Prev";   // the signature's characters in reading order
    std::copy(swapped, swapped + 4, image.begin() + block + driver_image_file::kDdbPrev);
    ASSERT_TRUE(driver_image_file::Write(directory_ + "ORV_DE.LE", image));
    Describe("module IOS\n");
    std::vector<std::string> lines = RunClient();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("open failed ", 0), 0u) << lines[0];
}

}   // namespace
