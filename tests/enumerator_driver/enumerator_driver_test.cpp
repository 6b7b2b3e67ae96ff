// The enumerator driver image that the build produced, loaded by the emulated kernel and
// driven through its control procedure with the system's registers and request records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "driver_image_file.h"
#include "emulated_kernel.h"

namespace {

using emulated_kernel::Kernel;
using emulated_kernel::LoadedModule;
using emulated_kernel::Registers;

constexpr uint32_t kGetVersion = 0x8001, kGetModule = 0x8002, kGetDeviceNames = 0x8003;

class EnumeratorDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(Kernel::Instance().LoadDriver(ORV_DE_IMAGE, &error)) << error;
  }
  static void TearDownTestSuite() { Kernel::Instance().UnloadDriver(); }
  void SetUp() override {
    ASSERT_TRUE(kernel.loaded());
    kernel.set_heap_exhausted(false);
    // A small machine, the driver itself among both lists as while it is loaded.
    kernel.SetLists({{"VPOWERD", 1}, {"SIXTEEN_CHARS_16", 2}, {"A_NAME_LONGER_THAN_16", 3}, {"ORV_DE", 1}},
                    {"VMM", "IOS", "ORV_DE"});
    kernel.TakeFaults();
  }
  // The kernel's own watch over every call: lists read only inside the critical section,
  // which the driver always left again; every scratch record freed once.
  void TearDown() override {
    std::vector<std::string> faults = kernel.TakeFaults();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(kernel.outstanding_allocations(), 0u);
  }
  // Sends a request with sentinel-filled output and byte count. The output lies between guard
  // bytes, which no request may touch.
  uint32_t Send(uint32_t code, const std::vector<uint8_t>& input, uint32_t output_size) {
    buffer.assign(kGuard + output_size + kGuard, 0xCC);
    count = 0xA5A5A5A5;
    uint32_t status = kernel.DeviceIoControl(code, input.empty() ? nullptr : input.data(),
                                             static_cast<uint32_t>(input.size()), buffer.data() + kGuard,
                                             output_size, &count, &carry);
    EXPECT_EQ(carry, status != 0) << "the carry flag goes with a status other than 0";
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
    return Send(kGetModule, input, output_size);
  }
  bool OutputUntouched() const {
    for (uint8_t b : output)
      if (b != 0xCC) return false;
    return true;
  }
  std::string Names(size_t bytes) const { return std::string(output.begin(), output.begin() + bytes); }

  static constexpr size_t kGuard = 16;
  Kernel& kernel = Kernel::Instance();
  std::vector<uint8_t> buffer;  // guard, output, guard
  std::vector<uint8_t> output;  // the output as the request left it
  uint32_t count = 0;
  bool carry = false;
};

TEST_F(EnumeratorDriver, ImageIsMappedWithItsDescriptorBlock) {
  // A fresh copy, before any call site is patched: its dynamic links name the six services.
  std::string error;
  ASSERT_TRUE(kernel.LoadDriver(ORV_DE_IMAGE, &error)) << error;
  std::set<uint32_t> services;
  const uint8_t* code = kernel.object_base(0);
  for (uint32_t at = 0; at + 6 <= kernel.object_size(0); ++at) {
    uint32_t id;
    std::memcpy(&id, code + at + 2, 4);
    if (code[at] == 0xCD && code[at + 1] == 0x20 && (id >> 16) != 0 && (id >> 16) < 0x100) services.insert(id);
  }
  EXPECT_EQ(services, (std::set<uint32_t>{0x0001001F, 0x00010020, 0x0001004F, 0x00010051, 0x0001013F, 0x00270005}));
  SetUp();

  EXPECT_EQ(kernel.module_name(), "ORV_DE");
  EXPECT_EQ(kernel.ddb_name(), "ORV_DE  ");
  ASSERT_EQ(kernel.object_count(), 2u);
  const uint8_t* ddb = kernel.descriptor_block();
  auto in_object = [&](uint32_t field, uint32_t object) {
    uint32_t address;
    std::memcpy(&address, ddb + field, 4);
    uint32_t base = reinterpret_cast<uint32_t>(kernel.object_base(object));
    return address >= base && address < base + kernel.object_size(object);
  };
  // After the fixups, the procedures and the service table are addresses in object 1.
  for (uint32_t field : {0x18u, 0x1Cu, 0x20u, 0x30u}) EXPECT_TRUE(in_object(field, 0)) << field;
  uint16_t sdk;
  std::memcpy(&sdk, ddb + 4, 2);
  EXPECT_EQ(sdk, 0x0400);
}

TEST_F(EnumeratorDriver, ControlMessagesAnswerInEaxAndCarry) {
  struct Case { uint32_t message, eax; bool carry; };
  const Case cases[] = {
      {0x1B, 1, false},  // SYS_DYNAMIC_DEVICE_INIT, through the start-up object
      {0x1C, 1, false},  // SYS_DYNAMIC_DEVICE_EXIT
      {0x22, 1, true},   // PNP_NEW_DEVNODE
      {0x00, 1, false},  // others
      {0x05, 1, false},
      {0x24, 1, false},
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
    Registers out = kernel.Control(in);
    EXPECT_EQ(out.eax, c.eax);
    EXPECT_EQ(out.carry(), c.carry);
    EXPECT_EQ(out.ebx, in.ebx);
    EXPECT_EQ(out.esi, in.esi);
    EXPECT_EQ(out.edi, in.edi);
    EXPECT_EQ(out.ebp, in.ebp);
    EXPECT_EQ(out.ecx, in.ecx);
    EXPECT_EQ(out.edx, in.edx);
  }
}

TEST_F(EnumeratorDriver, OpenAndCloseNotificationsSucceedWithoutAByteCount) {
  for (uint32_t code : {0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(Send(code, {}, 16), 0u);
    EXPECT_FALSE(carry);
    EXPECT_EQ(count, 0xA5A5A5A5u);
    EXPECT_TRUE(OutputUntouched());
  }
}

TEST_F(EnumeratorDriver, VersionWithThreeAndFourBytes) {
  EXPECT_EQ(Send(kGetVersion, {}, 3), 1u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(Send(kGetVersion, {}, 4), 0u);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(Names(4), std::string("\x00\x01\x00\x00", 4));
}

TEST_F(EnumeratorDriver, ModulesByIndexIncludingItself) {
  struct Case { uint32_t index; uint8_t load_count; std::string name; };
  const Case cases[] = {
      {0, 1, std::string("VPOWERD\0", 8)},           // shorter: with its terminator
      {1, 2, "SIXTEEN_CHARS_16"},                    // 16: no terminator
      {2, 3, "A_NAME_LONGER_TH"},                    // longer: the first 16
      {3, 1, std::string("ORV_DE\0", 7)},            // the driver itself
  };
  const uint32_t patched_before = kernel.patched_call_sites();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    ASSERT_EQ(GetModule(c.index), 0u);
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(output[0], c.load_count);
    EXPECT_EQ(std::string(output.begin() + 1, output.begin() + 1 + c.name.size()), c.name);
  }
  for (uint32_t index : {4u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(GetModule(index), 0xFFFFFFFEu);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(OutputUntouched());
  }
  // Each call site faulted once and runs patched afterwards.
  const uint32_t patched = kernel.patched_call_sites();
  EXPECT_EQ(GetModule(0), 0u);
  EXPECT_EQ(kernel.patched_call_sites(), patched);
  EXPECT_LE(patched - patched_before, 5u);
}

TEST_F(EnumeratorDriver, NoModuleAtAllAndAModuleWithoutAName) {
  kernel.SetLists({}, {"VMM"});
  EXPECT_EQ(GetModule(0), 0xFFFFFFFFu);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());

  LoadedModule unnamed;
  unnamed.has_name = false;
  unnamed.load_count = 9;
  kernel.SetLists({unnamed}, {"VMM"});
  ASSERT_EQ(GetModule(0), 0u);
  EXPECT_EQ(output[0], 9);
  EXPECT_EQ(output[1], 0);
}

TEST_F(EnumeratorDriver, ModuleRequestWithShortBuffersWritesNothing) {
  EXPECT_EQ(Send(kGetModule, {0, 0, 0}, 17), 122u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(GetModule(0, 16), 122u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

std::vector<std::string> Devices(size_t n) {
  std::vector<std::string> names;
  for (size_t i = 0; i + 1 < n; ++i) names.push_back("D" + std::to_string(i));
  names.push_back("ORV_DE");
  return names;
}

TEST_F(EnumeratorDriver, DeviceNamesOfChainsOfThree256And257) {
  ASSERT_EQ(Send(kGetDeviceNames, {1, 2, 3}, 2304), 0u);
  EXPECT_EQ(count, 27u);
  EXPECT_EQ(Names(27), std::string("VMM     \0IOS     \0ORV_DE  \0", 27));

  kernel.SetLists({{"ORV_DE", 1}}, Devices(256));
  ASSERT_EQ(Send(kGetDeviceNames, {}, 2304), 0u);
  EXPECT_EQ(count, 2304u);
  EXPECT_EQ(Names(9), std::string("D0      \0", 9));
  EXPECT_EQ(std::string(output.begin() + 2295, output.begin() + 2304), std::string("ORV_DE  \0", 9));

  kernel.SetLists({{"ORV_DE", 1}}, Devices(257));
  EXPECT_EQ(Send(kGetDeviceNames, {}, 2304), 0xFFFFFFFFu);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(EnumeratorDriver, DeviceNamesThatDoNotFitGiveTheBytesNeeded) {
  for (uint32_t space : {0u, 26u}) {
    SCOPED_TRACE(space);
    EXPECT_EQ(Send(kGetDeviceNames, {}, space), 27u);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(OutputUntouched());
  }
  kernel.SetLists({}, {});
  EXPECT_EQ(Send(kGetDeviceNames, {}, 2304), 0xFFFFFFFFu);
  EXPECT_EQ(count, 0u);
}

TEST_F(EnumeratorDriver, UnknownCodeSucceedsWithNothing) {
  EXPECT_EQ(Send(0x8004, {1, 2, 3, 4}, 64), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(EnumeratorDriver, ExhaustedHeapFailsTheWalksCleanly) {
  kernel.set_heap_exhausted(true);
  EXPECT_EQ(GetModule(0), 8u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
  EXPECT_EQ(Send(kGetDeviceNames, {}, 2304), 8u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(OutputUntouched());
}

// The kernel's own watch: a list read outside the critical section is caught.
TEST_F(EnumeratorDriver, KernelCatchesListReadsOutsideTheCriticalSection) {
  volatile const uint8_t* record = reinterpret_cast<const uint8_t*>(kernel.loader_head());
  uint8_t load_count = record[4];
  EXPECT_EQ(load_count, 1);
  std::vector<std::string> faults = kernel.TakeFaults();
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
    EXPECT_FALSE(kernel.loaded());
  }
  DeleteFileA(copy.c_str());

  std::string error;
  EXPECT_TRUE(kernel.LoadDriver(ORV_DE_IMAGE, &error)) << error;  // the image as built
  kernel.UnloadDriver();
}

}  // namespace
