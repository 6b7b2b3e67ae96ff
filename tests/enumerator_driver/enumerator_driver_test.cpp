// The enumerator driver image that the build produced, loaded by the emulated kernel and
// driven through its control procedure with the system's registers and request records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "driver_image_file.h"
#include "emulated_kernel.h"
#include "enumerator_request_cases.h"

namespace {

using emulated_kernel::Kernel;
using emulated_kernel::kPnpNewDevnode;
using emulated_kernel::kSysDynamicDeviceExit;
using emulated_kernel::kSysDynamicDeviceInit;
using emulated_kernel::Registers;

using enumerator_cases::RequestCase;
using enumerator_cases::RequestOutcome;
using enumerator_cases::SystemLists;

class EnumeratorDriver : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(Kernel::Instance().LoadDriver(ORV_DE_IMAGE, &error)) << error;
    }
    static void TearDownTestSuite() { Kernel::Instance().UnloadDriver(); }
    void SetUp() override {
        ASSERT_TRUE(kernel_.Loaded());
        kernel_.SetHeapExhausted(false);
        kernel_.TakeFaults();
    }
    // The kernel's own watch over every call: lists read only inside the critical section,
    // which the driver always left again; every scratch record freed once.
    void TearDown() override { ExpectNoFault(); }
    void ExpectNoFault() {
        std::vector<std::string> faults = kernel_.TakeFaults();
        EXPECT_TRUE(faults.empty()) << faults.front();
        EXPECT_EQ(kernel_.OutstandingAllocations(), 0u);
    }
    void SetLists(const SystemLists& system) {
        kernel_.SetLists(system.modules, system.devices);
        kernel_.SetHeapExhausted(system.heapExhausted);
    }
    // Sends the case's request with its output between guard bytes, the output and the byte
    // count set to sentinels first. The carry flag goes with a status other than 0.
    RequestOutcome Send(const RequestCase& c) {
        std::vector<uint8_t> input(c.input.begin(), c.input.end());
        enumerator_cases::GuardedOutput output(c.outputSize, c.nullOutput);
        uint32_t count = enumerator_cases::kByteCountUntouched;
        bool carry = false;
        RequestOutcome outcome;
        outcome.status = kernel_.DeviceIoControl(c.code, c.nullInput || input.empty() ? nullptr : input.data(),
                                                 static_cast<uint32_t>(input.size()), output.Pointer(), c.outputSize,
                                                 &count, &carry);
        EXPECT_EQ(carry, outcome.status != 0) << "the carry flag goes with a status other than 0";
        outcome.byteCount = count;
        output.Read(&outcome);
        return outcome;
    }
    void SendEveryCase() {
        for (const RequestCase& c : enumerator_cases::RequestCases()) {
            SCOPED_TRACE(c.name + " (" + c.system->name + ")");
            SetLists(*c.system);
            EXPECT_EQ(enumerator_cases::Mismatch(c, Send(c)), "");
            ExpectNoFault();
        }
    }

    Kernel& kernel_ = Kernel::Instance();
};

TEST_F(EnumeratorDriver, ImageIsMappedWithItsDescriptorBlock) {
    // A fresh copy, before any call site is patched: its dynamic links name the six services.
    std::string error;
    ASSERT_TRUE(kernel_.LoadDriver(ORV_DE_IMAGE, &error)) << error;
    std::set<uint32_t> services;
    const uint8_t* code = kernel_.ObjectBase(0);
    for (uint32_t at = 0; at + 6 <= kernel_.ObjectSize(0); ++at) {
        uint32_t id;
        std::memcpy(&id, code + at + 2, 4);
        if (code[at] == 0xCD && code[at + 1] == 0x20 && (id >> 16) != 0 && (id >> 16) < 0x100) services.insert(id);
    }
    EXPECT_EQ(services, (std::set<uint32_t>{0x0001001F, 0x00010020, 0x0001004F, 0x00010051, 0x0001013F, 0x00270005}));
    SetUp();

    EXPECT_EQ(kernel_.ModuleName(), "ORV_DE");
    EXPECT_EQ(kernel_.DdbName(), "ORV_DE  ");
    ASSERT_EQ(kernel_.ObjectCount(), 2u);
    const uint8_t* ddb = kernel_.DescriptorBlock();
    auto inObject = [&](uint32_t field, uint32_t object) {
        uint32_t address;
        std::memcpy(&address, ddb + field, 4);
        uint32_t base = reinterpret_cast<uint32_t>(kernel_.ObjectBase(object));
        return address >= base && address < base + kernel_.ObjectSize(object);
    };
    // After the fixups, the procedures and the service table are addresses in object 1.
    for (uint32_t field : {0x18u, 0x1Cu, 0x20u, 0x30u}) EXPECT_TRUE(inObject(field, 0)) << field;
    uint16_t sdk;
    std::memcpy(&sdk, ddb + 4, 2);
    EXPECT_EQ(sdk, 0x0400);
}

TEST_F(EnumeratorDriver, ControlMessagesAnswerInEaxAndCarry) {
    struct Case {
        uint32_t message, eax;
        bool carry;
    };
    const Case cases[] = {
        {0x1B, 1, false},   // SYS_DYNAMIC_DEVICE_INIT, through the start-up object
        {0x1C, 1, false},   // SYS_DYNAMIC_DEVICE_EXIT
        {0x22, 1, true},    // PNP_NEW_DEVNODE
        {0x00, 1, false},   // others
        {0x05, 1, false}, {0x24, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Registers in;
        in.eax = c.message;
        in.ebx = Kernel::kVmHandle;
        in.esi = 0x11111111;
        in.edi = 0x22222222;
        in.ebp = 0x33333333;
        in.ecx = 0x44444444;
        in.edx = 0x55555555;
        Registers out = kernel_.Control(in);
        EXPECT_EQ(out.eax, c.eax);
        EXPECT_EQ(out.Carry(), c.carry);
        EXPECT_EQ(out.ebx, in.ebx);
        EXPECT_EQ(out.esi, in.esi);
        EXPECT_EQ(out.edi, in.edi);
        EXPECT_EQ(out.ebp, in.ebp);
        EXPECT_EQ(out.ecx, in.ecx);
        EXPECT_EQ(out.edx, in.edx);
    }
}

// Every case of the request table. Each dynamic-link call site faults once and runs patched
// afterwards: a second round patches none.
TEST_F(EnumeratorDriver, AnswersEveryRequestCase) {
    SendEveryCase();
    const uint32_t patched = kernel_.PatchedCallSites();
    EXPECT_GT(patched, 0u);
    SendEveryCase();
    EXPECT_EQ(kernel_.PatchedCallSites(), patched);
}

// A thread's ring-0 stack on Windows 95/98 is a few kilobytes, and the system's own frames
// lie below the driver's: the driver answers every request case and control message within
// 1 KB of stack. The cases run first on the caller's stack, which patches every dynamic link
// (the patching goes through the exception machinery, which needs more room than that); then
// on a roomy stack whose use is measured; then on a stack of 1 KB above a page that faults.
TEST_F(EnumeratorDriver, AnswersEveryRequestCaseOnAStackOfOneKilobyte) {
    const uint32_t kLimit = 1024;
    struct CallersStackAgain {
        ~CallersStackAgain() { Kernel::Instance().SetStackSize(0); }
    } callersStackAgain;
    auto sendEverything = [this] {
        SendEveryCase();
        for (uint32_t message : {kSysDynamicDeviceInit, kPnpNewDevnode, kSysDynamicDeviceExit}) {
            Registers out = kernel_.Control(message);
            EXPECT_EQ(out.eax, 1u) << message;
        }
    };
    sendEverything();

    ASSERT_TRUE(kernel_.SetStackSize(16 * 1024));
    sendEverything();
    const uint32_t used = kernel_.StackUsed();
    std::printf("stack used by the control procedure: %u bytes\n", static_cast<unsigned>(used));
    EXPECT_GT(used, 0u);
    ASSERT_LE(used, kLimit) << "bytes of stack the control procedure used";

    ASSERT_TRUE(kernel_.SetStackSize(kLimit));
    sendEverything();   // more than 1 KB would fault on the page below
    EXPECT_LE(kernel_.StackUsed(), kLimit);
    EXPECT_GT(kernel_.StackUsed(), 0u);
}

// The kernel's own watch: a list read outside the critical section is caught.
TEST_F(EnumeratorDriver, KernelCatchesListReadsOutsideTheCriticalSection) {
    SetLists({"VPOWERD then ORV_DE", {{"VPOWERD", 3}, {"ORV_DE", 1}}, {"ORV_DE  "}});
    volatile const uint8_t* record = reinterpret_cast<const uint8_t*>(kernel_.LoaderHead());
    uint8_t loadCount = record[4];
    EXPECT_EQ(loadCount, 3);
    std::vector<std::string> faults = kernel_.TakeFaults();
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0], "system list read outside the critical section");
}

// The loader takes a descriptor block only with the platform's signature in DDB_Prev, the
// multi-character constant 'Prev' (bytes "verP"): not byte-swapped, not missing.
TEST(EmulatedKernelLoader, RefusesADescriptorBlockWithoutItsSignature) {
    Kernel& kernel = Kernel::Instance();
    const std::vector<uint8_t> image = driver_image_file::Read(ORV_DE_IMAGE);
    const size_t block = driver_image_file::DescriptorBlockOffset(image);
    ASSERT_NE(block, 0u);
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    const std::string copy = std::string(temp) + "orv_de_signature_" + std::to_string(GetCurrentProcessId()) + ".vxd";

    for (const char* signature : {"Prev", "\0\0\0\0", "verp"}) {
        SCOPED_TRACE(std::string(signature, 4));
        std::vector<uint8_t> damaged = image;
        std::copy(signature, signature + 4, damaged.begin() + block + driver_image_file::kDdbPrev);
        ASSERT_TRUE(driver_image_file::Write(copy, damaged));
        std::string error;
        EXPECT_FALSE(kernel.LoadDriver(copy, &error));
        EXPECT_NE(error.find("signature 'Prev'"), std::string::npos) << error;
        EXPECT_FALSE(kernel.Loaded());
    }
    DeleteFileA(copy.c_str());

    std::string error;
    EXPECT_TRUE(kernel.LoadDriver(ORV_DE_IMAGE, &error)) << error;   // the image as built
    kernel.UnloadDriver();
}

}   // namespace
