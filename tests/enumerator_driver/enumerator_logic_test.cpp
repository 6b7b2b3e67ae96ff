// The enumerator driver's request logic, natively, on system lists built in memory: the
// list-walking interface is implemented here over an arena of 32-bit addresses. Every request
// is checked for what the system and the caller would see: its status, byte count and reply;
// nothing written outside the caller's output; the lists read only inside the critical
// section, which is always left again; every scratch record freed once (a ledger).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "enumerator_logic.h"
#include "enumerator_platform.h"
#include "handle_ledger.h"

namespace {

// The system memory the walks read: records and names at 32-bit addresses from 0x10000.
struct Machine {
  static constexpr uint32_t kBase = 0x10000;
  std::vector<uint8_t> memory;
  uint32_t loader_head = 0, chain_head = 0;
  bool fail_allocation = false;
  int critical_depth = 0;
  HandleLedger scratch;             // scratch records allocated and freed
  std::vector<std::string> faults;  // what the driver did wrong

  uint32_t Put(const void* bytes, size_t count) {
    uint32_t address = kBase + static_cast<uint32_t>(memory.size());
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    memory.insert(memory.end(), b, b + count);
    return address;
  }
  uint32_t PutName(const std::string& name) { return Put(name.c_str(), name.size() + 1); }
  const uint8_t* At(uint32_t address, uint32_t count) {
    if (address < kBase || address - kBase + uint64_t{count} > memory.size()) {
      faults.push_back("read outside the lists at " + std::to_string(address));
      return nullptr;
    }
    if (critical_depth != 1) faults.push_back("list read outside the critical section");
    return memory.data() + (address - kBase);
  }
  static void PutDword(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

  // The loader's list: DeviceInfo records, each pointing at the next; a null name pointer
  // is written for a name given as nullptr.
  void BuildLoaderList(const std::vector<std::pair<const char*, uint8_t>>& modules) {
    std::vector<uint32_t> names;
    for (const auto& m : modules) names.push_back(m.first ? PutName(m.first) : 0);
    uint32_t next = 0;
    for (size_t i = modules.size(); i-- > 0;) {
      uint8_t record[ENUMDRV_DEVICE_INFO_SIZE];
      std::memset(record, 0x5A, sizeof record);
      PutDword(record + ENUMDRV_DEVICE_INFO_NEXT, next);
      record[ENUMDRV_DEVICE_INFO_LOAD_COUNT] = modules[i].second;
      PutDword(record + ENUMDRV_DEVICE_INFO_MODULE_NAME, names[i]);
      next = Put(record, sizeof record);
    }
    loader_head = next;
  }
  // The chain of descriptor blocks, from 8-byte names.
  void BuildChain(const std::vector<std::string>& names) {
    uint32_t next = 0;
    for (size_t i = names.size(); i-- > 0;) {
      uint8_t block[ENUMDRV_DDB_SIZE] = {};
      PutDword(block + ENUMDRV_DDB_NEXT, next);
      std::memcpy(block + ENUMDRV_DDB_NAME, names[i].data(), 8);
      next = Put(block, sizeof block);
    }
    chain_head = next;
  }
};

Machine* machine = nullptr;

}  // namespace

extern "C" {
void* EnumeratorAllocate(uint32_t size) {
  if (machine->critical_depth) machine->faults.push_back("allocation inside the critical section");
  if (machine->fail_allocation) return nullptr;
  void* block = std::malloc(size);
  machine->scratch.Opened(block);
  return block;
}
void EnumeratorFree(void* block) {
  if (machine->critical_depth != 1) machine->faults.push_back("free outside the critical section");
  machine->scratch.Closed(block);
  std::free(block);
}
void EnumeratorEnterCriticalSection(void) { ++machine->critical_depth; }
void EnumeratorLeaveCriticalSection(void) {
  if (machine->critical_depth == 0) machine->faults.push_back("critical section left without being entered");
  --machine->critical_depth;
}
EnumeratorAddress EnumeratorLoaderListHead(void) {
  if (machine->critical_depth != 1) machine->faults.push_back("loader list outside the critical section");
  return machine->loader_head;
}
EnumeratorAddress EnumeratorDeviceChainHead(void) {
  if (machine->critical_depth != 1) machine->faults.push_back("chain outside the critical section");
  return machine->chain_head;
}
void EnumeratorCopyRecord(void* destination, EnumeratorAddress source, uint32_t count) {
  if (const uint8_t* p = machine->At(source, count)) std::memcpy(destination, p, count);
}
void EnumeratorCopyName(uint8_t* destination, EnumeratorAddress source, uint32_t limit) {
  for (uint32_t i = 0; i < limit; ++i) {
    const uint8_t* p = machine->At(source + i, 1);
    if (!p) return;
    destination[i] = *p;
    if (!*p) return;
  }
}
}

namespace {

class EnumeratorLogic : public ::testing::Test {
 protected:
  void SetUp() override { machine = &m; }
  void TearDown() override {
    ExpectSystemLeftAlone(m);
    machine = nullptr;
  }
  // The critical section left, every scratch record freed once, no list read out of turn.
  static void ExpectSystemLeftAlone(const Machine& system) {
    EXPECT_EQ(system.critical_depth, 0);
    EXPECT_TRUE(system.scratch.Balanced());
    EXPECT_TRUE(system.faults.empty()) << system.faults.front();
  }
  // Sends a request with a sentinel-filled output buffer and byte count. The output lies
  // between guard bytes, which no request may touch.
  uint32_t Send(uint32_t code, std::vector<uint8_t> input, uint32_t output_size) {
    buffer.assign(kGuard + output_size + kGuard, 0xCC);
    count = 0xA5A5A5A5;
    EnumeratorRequest request{code, input.data(), static_cast<uint32_t>(input.size()), buffer.data() + kGuard,
                              output_size, &count};
    const uint32_t status = EnumeratorHandleRequest(&request);
    output.assign(buffer.begin() + kGuard, buffer.end() - kGuard);
    for (size_t i = 0; i < kGuard; ++i) {
      EXPECT_EQ(buffer[i], 0xCC) << "written before the output, code " << code;
      EXPECT_EQ(buffer[kGuard + output_size + i], 0xCC) << "written past the output, code " << code;
    }
    return status;
  }
  uint32_t GetModule(uint32_t index, uint32_t output_size = 17) {
    std::vector<uint8_t> input(4);
    std::memcpy(input.data(), &index, 4);
    return Send(ENUMDRV_GET_MODULE, input, output_size);
  }
  bool OutputUntouched() const {
    for (uint8_t b : output) if (b != 0xCC) return false;
    return true;
  }
  static constexpr size_t kGuard = 16;
  Machine m;
  std::vector<uint8_t> buffer;  // guard, output, guard
  std::vector<uint8_t> output;  // the output as the request left it
  uint32_t count = 0;
};

TEST_F(EnumeratorLogic, VersionNeedsFourBytes) {
  EXPECT_EQ(Send(ENUMDRV_GET_VERSION, {}, 3), 1u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(Send(ENUMDRV_GET_VERSION, {}, 4), 0u);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(output, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00}));
}

TEST_F(EnumeratorLogic, ModulesByIndexWithNamesShorterEqualAndLongerThanSixteen) {
  m.BuildLoaderList({{"VPOWERD", 1}, {"SIXTEEN_CHARS_16", 3}, {"A_NAME_OF_TWENTY_CHR", 255}, {"ORV_DE", 1}});
  struct Case { uint32_t index; uint8_t load_count; std::string name_bytes; };
  const Case cases[] = {
      {0, 1, std::string("VPOWERD\0\0\0\0\0\0\0\0\0", 16)},
      {1, 3, "SIXTEEN_CHARS_16"},  // all 16 bytes, no terminator
      {2, 255, "A_NAME_OF_TWENTY"},
      {3, 1, std::string("ORV_DE\0\0\0\0\0\0\0\0\0\0", 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    ASSERT_EQ(GetModule(c.index), 0u);
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(output[0], c.load_count);
    EXPECT_EQ(std::string(output.begin() + 1, output.begin() + 17), c.name_bytes);
  }
  for (uint32_t index : {4u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(GetModule(index), 0xFFFFFFFEu);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(OutputUntouched());
  }
}

TEST_F(EnumeratorLogic, ModuleNameAtTheEndOfMemoryIsNotReadPastItsTerminator) {
  m.BuildLoaderList({{nullptr, 2}});
  uint32_t record = m.loader_head;
  uint32_t name = m.PutName("LAST");  // the last bytes of the arena
  Machine::PutDword(&m.memory[record - Machine::kBase + ENUMDRV_DEVICE_INFO_MODULE_NAME], name);
  ASSERT_EQ(GetModule(0), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&output[1])), "LAST");
}

TEST_F(EnumeratorLogic, ModuleWithoutANameIsDeliveredEmpty) {
  m.BuildLoaderList({{nullptr, 7}});
  ASSERT_EQ(GetModule(0), 0u);
  EXPECT_EQ(count, 17u);
  EXPECT_EQ(output[0], 7);
  EXPECT_EQ(output[1], 0);
}

TEST_F(EnumeratorLogic, NoModuleAtAll) {
  EXPECT_EQ(GetModule(0), 0xFFFFFFFFu);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(EnumeratorLogic, ModuleRequestWithShortBuffersWritesNothing) {
  m.BuildLoaderList({{"IOS", 1}});
  EXPECT_EQ(Send(ENUMDRV_GET_MODULE, {0, 0, 0}, 17), 122u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(GetModule(0, 16), 122u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

// A null buffer has no room, whatever size the request states with it (found by the
// enumerator_requests fuzz driver: the driver read the index and wrote the reply through null).
TEST_F(EnumeratorLogic, NullBuffersCountAsNoRoom) {
  m.BuildLoaderList({{"IOS", 1}});
  m.BuildChain({"VMM     ", "IOS     ", "ORV_DE  "});
  struct Case { uint32_t code; bool null_input; bool null_output; uint32_t status; };
  const Case cases[] = {
      {ENUMDRV_GET_MODULE, true, false, 122u},
      {ENUMDRV_GET_MODULE, false, true, 122u},
      {ENUMDRV_GET_VERSION, false, true, 1u},
      {ENUMDRV_GET_DEVICE_NAMES, false, true, 27u},  // the bytes the reply needs
  };
  const uint8_t index[4] = {0, 0, 0, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    buffer.assign(2304, 0xCC);
    count = 0xA5A5A5A5;
    EnumeratorRequest request{c.code, c.null_input ? nullptr : index, 4, c.null_output ? nullptr : buffer.data(),
                              2304, &count};
    EXPECT_EQ(EnumeratorHandleRequest(&request), c.status);
    EXPECT_EQ(count, 0u);
    output = buffer;
    EXPECT_TRUE(OutputUntouched());
  }
}

TEST_F(EnumeratorLogic, ScratchAllocationFailureFailsTheWalksCleanly) {
  m.BuildLoaderList({{"IOS", 1}});
  m.BuildChain({"IOS     "});
  m.fail_allocation = true;
  EXPECT_EQ(GetModule(0), 8u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(Send(ENUMDRV_GET_DEVICE_NAMES, {}, 2304), 8u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

std::vector<std::string> Names(size_t n) {
  std::vector<std::string> names;
  for (size_t i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "DEV%-5u", static_cast<unsigned>(i));
    names.push_back(name);
  }
  return names;
}

TEST_F(EnumeratorLogic, DeviceNamesOfChainsOfThree256And257) {
  m.BuildChain({"VMM     ", "IOS     ", "ORV_DE  "});
  ASSERT_EQ(Send(ENUMDRV_GET_DEVICE_NAMES, {1, 2, 3}, 2304), 0u);  // the input is ignored
  EXPECT_EQ(count, 27u);
  EXPECT_EQ(std::string(output.begin(), output.begin() + 27), std::string("VMM     \0IOS     \0ORV_DE  \0", 27));

  for (size_t n : {256u, 257u}) {
    SCOPED_TRACE(n);
    Machine other;
    other.BuildChain(Names(n));
    machine = &other;
    uint32_t status = Send(ENUMDRV_GET_DEVICE_NAMES, {}, 2304);
    machine = &m;
    ExpectSystemLeftAlone(other);
    if (n == 256) {
      EXPECT_EQ(status, 0u);
      EXPECT_EQ(count, 2304u);
      EXPECT_EQ(std::string(output.begin() + 255 * 9, output.begin() + 2304), std::string("DEV255  \0", 9));
    } else {
      EXPECT_EQ(status, 0xFFFFFFFFu);
      EXPECT_EQ(count, 0u);
      EXPECT_TRUE(OutputUntouched());
    }
  }
}

TEST_F(EnumeratorLogic, DeviceNamesThatDoNotFitGiveTheBytesNeeded) {
  m.BuildChain({"VMM     ", "IOS     ", "ORV_DE  "});
  for (uint32_t space : {0u, 26u}) {
    SCOPED_TRACE(space);
    EXPECT_EQ(Send(ENUMDRV_GET_DEVICE_NAMES, {}, space), 27u);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(OutputUntouched());
  }
  EXPECT_EQ(Send(ENUMDRV_GET_DEVICE_NAMES, {}, 27), 0u);
  EXPECT_EQ(count, 27u);
}

TEST_F(EnumeratorLogic, EmptyChainFails) {
  EXPECT_EQ(Send(ENUMDRV_GET_DEVICE_NAMES, {}, 2304), 0xFFFFFFFFu);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(EnumeratorLogic, NotificationsAndUnknownCodes) {
  EXPECT_EQ(Send(ENUMDRV_DIOC_OPEN, {}, 4), 0u);
  EXPECT_EQ(count, 0xA5A5A5A5u);  // not touched
  EXPECT_EQ(Send(ENUMDRV_DIOC_CLOSEHANDLE, {}, 4), 0u);
  EXPECT_EQ(count, 0xA5A5A5A5u);
  EXPECT_EQ(Send(0x8004, {1, 2, 3, 4}, 64), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());

  // A request without a byte count is answered all the same.
  m.BuildChain({"VMM     "});
  uint8_t reply[9];
  EnumeratorRequest request{ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, reply, 9, nullptr};
  EXPECT_EQ(EnumeratorHandleRequest(&request), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 9), std::string("VMM     \0", 9));
}

TEST_F(EnumeratorLogic, ControlMessages) {
  struct Case { uint32_t message, eax, carry; };
  const Case cases[] = {{0x1B, 1, 0}, {0x1C, 1, 0}, {0x22, 1, 1}, {0x00, 1, 0}, {0x0F, 1, 0}, {0x24, 1, 0}};
  for (const Case& c : cases) {
    uint32_t carry = 0xFF;
    EXPECT_EQ(EnumeratorAnswerMessage(c.message, &carry), c.eax) << c.message;
    EXPECT_EQ(carry, c.carry) << c.message;
  }
}

}  // namespace
