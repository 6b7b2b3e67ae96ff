// The enumerator driver's request logic, natively, on the kernel held in memory
// (tests/support/enumerator/memory_kernel.h). Every case of the request table is sent with
// its buffers between guard bytes and checked for what the system and the caller would see: its
// status, byte count and reply, nothing written outside the caller's output; and the kernel's
// own watch: the lists read only inside the critical section, which is always left again, every
// scratch record freed once, nothing read outside the system's records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "enumerator_logic.h"
#include "enumerator_platform.h"
#include "enumerator_request_cases.h"
#include "memory_kernel.h"

namespace {

using enumerator_cases::RequestCase;
using enumerator_cases::RequestOutcome;
using enumerator_cases::SystemLists;

class EnumeratorLogic : public ::testing::Test {
protected:
    void SetUp() override { MemoryKernel::Use(&kernel_); }
    void TearDown() override { MemoryKernel::Use(nullptr); }

    void SetLists(const SystemLists& system) {
        kernel_.SetModules(system.modules);
        kernel_.SetDevices(system.devices);
        kernel_.FailAllocations(system.heapExhausted);
    }

    // Sends the case's request with its output between guard bytes, the output and the byte
    // count set to sentinels first.
    RequestOutcome Send(const RequestCase& c) {
        std::vector<uint8_t> input(c.input.begin(), c.input.end());
        enumerator_cases::GuardedOutput output(c.outputSize, c.nullOutput);
        uint32_t count = enumerator_cases::kByteCountUntouched;
        EnumeratorRequest request{c.code,
                                  c.nullInput ? nullptr : input.data(),
                                  static_cast<uint32_t>(input.size()),
                                  output.Pointer(),
                                  c.outputSize,
                                  &count};
        RequestOutcome outcome;
        outcome.status = EnumeratorHandleRequest(&request);
        outcome.byteCount = count;
        output.Read(&outcome);
        return outcome;
    }

    MemoryKernel kernel_;
};

TEST_F(EnumeratorLogic, AnswersEveryRequestCase) {
    for (const RequestCase& c : enumerator_cases::RequestCases()) {
        SCOPED_TRACE(c.name + " (" + c.system->name + ")");
        SetLists(*c.system);
        EXPECT_EQ(enumerator_cases::Mismatch(c, Send(c)), "");
        EXPECT_EQ(kernel_.Fault(), "");
        kernel_.ClearFaults();
    }
}

// Every block a request takes from the heap is given back, also when a later one is refused:
// each request answers "no memory" with nothing written whenever its n-th allocation fails.
TEST_F(EnumeratorLogic, EveryAllocationIsFreedWhenALaterOneFails) {
    kernel_.SetModules({{"VXDLDR", 1, true}});
    kernel_.SetDevices({"VMM     ", "IOS     "});
    for (uint32_t code : {ENUMDRV_GET_MODULE, ENUMDRV_GET_DEVICE_NAMES}) {
        int allocations = 0;
        for (int granted = 0;; ++granted) {
            SCOPED_TRACE(std::to_string(code) + ", allocations granted: " + std::to_string(granted));
            kernel_.FailAllocationsAfter(granted);
            uint32_t index = 0;
            uint8_t reply[ENUMDRV_DEVICE_REPLY_CAPACITY] = {};
            uint32_t count = 0xABCD;
            EnumeratorRequest request{code, reinterpret_cast<uint8_t*>(&index), 4, reply, sizeof(reply), &count};
            const uint32_t status = EnumeratorHandleRequest(&request);
            EXPECT_EQ(kernel_.Fault(), "");
            kernel_.ClearFaults();
            if (status == ENUMDRV_STATUS_SUCCESS) {
                allocations = granted;
                break;
            }
            EXPECT_EQ(status, ENUMDRV_STATUS_NO_MEMORY);
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(reply[0], 0);
            ASSERT_LT(granted, 8) << "the request never succeeded";
        }
        EXPECT_GE(allocations, 1);
    }
    kernel_.FailAllocations(false);
}

// A request without a byte count address is answered all the same.
TEST_F(EnumeratorLogic, RequestWithoutAByteCount) {
    kernel_.SetDevices({"VMM     "});
    uint8_t reply[9];
    EnumeratorRequest request{ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, reply, 9, nullptr};
    EXPECT_EQ(EnumeratorHandleRequest(&request), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 9), std::string("VMM     \0", 9));
    EXPECT_EQ(kernel_.Fault(), "");
}

TEST_F(EnumeratorLogic, ControlMessages) {
    struct Case {
        uint32_t message, eax, carry;
    };
    const Case cases[] = {{0x1B, 1, 0}, {0x1C, 1, 0}, {0x22, 1, 1}, {0x00, 1, 0}, {0x0F, 1, 0}, {0x24, 1, 0}};
    for (const Case& c : cases) {
        uint32_t carry = 0xFF;
        EXPECT_EQ(EnumeratorAnswerMessage(c.message, &carry), c.eax) << c.message;
        EXPECT_EQ(carry, c.carry) << c.message;
    }
}

// The kernel's own watch catches what a faulty walk would do.
TEST_F(EnumeratorLogic, KernelCatchesListReadsOutOfTurn) {
    kernel_.SetDevices({"VMM     "});
    EnumeratorDeviceChainHead();
    EXPECT_EQ(kernel_.Fault(), "device chain read outside the critical section");
    kernel_.ClearFaults();

    uint8_t record[ENUMDRV_DDB_SIZE];
    EnumeratorEnterCriticalSection();
    EnumeratorCopyRecord(record, EnumeratorDeviceChainHead() + 1, ENUMDRV_DDB_SIZE);   // one byte past the block
    EnumeratorLeaveCriticalSection();
    EXPECT_EQ(kernel_.Fault().rfind("read outside the system's records", 0), 0u) << kernel_.Fault();
    kernel_.ClearFaults();

    void* scratch = EnumeratorAllocate(ENUMDRV_DDB_SIZE);
    EXPECT_EQ(kernel_.Fault(), "scratch memory not freed");
    EnumeratorEnterCriticalSection();
    EnumeratorFree(scratch);
    EnumeratorLeaveCriticalSection();
    EXPECT_EQ(kernel_.Fault(), "");
}

}   // namespace
