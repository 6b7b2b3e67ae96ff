// The kernel stand-in's machine description: the format, its errors, and the hosted
// driver's place in both lists.
#include <gtest/gtest.h>

#include "machine_description.h"

namespace {

using kernel_standin::MachineDescription;

TEST(MachineDescription, ReadsImageModulesAndDevicesInOrder) {
  MachineDescription d;
  std::string error;
  ASSERT_FALSE(kernel_standin::ParseMachineDescription(
      "# sample\r\n\n  image C:\\Program Files\\ORV_DE.LE  \r\nmodule VPOWERD 1\nmodule NDIS\t7 x\n", &d, &error));
  EXPECT_EQ(error, "line 5: module line has more than a name and a load count");

  ASSERT_TRUE(kernel_standin::ParseMachineDescription(
      "# sample\r\n\n  image C:\\Program Files\\ORV_DE.LE  \r\nmodule VPOWERD 1\nmodule NDIS\t7\r\n"
      "module LONG_MODULE_NAME_OF_22\ndevice VMM\ndevice IOS\ndevice VCOMM\r\ndevice ABCDEFGH",
      &d, &error))
      << error;
  EXPECT_EQ(d.image, "C:\\Program Files\\ORV_DE.LE");
  ASSERT_EQ(d.modules.size(), 3u);
  EXPECT_EQ(d.modules[0].name, "VPOWERD");
  EXPECT_EQ(d.modules[1].name, "NDIS");
  EXPECT_EQ(d.modules[1].load_count, 7);
  EXPECT_EQ(d.modules[2].name, "LONG_MODULE_NAME_OF_22");
  EXPECT_EQ(d.modules[2].load_count, 1);
  EXPECT_EQ(d.devices, (std::vector<std::string>{"VMM     ", "IOS     ", "VCOMM   ", "ABCDEFGH"}));
}

TEST(MachineDescription, RefusesMalformedLinesWithTheirNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"volume C:", "line 1: unknown keyword volume"},
      {"\nimage", "line 2: image needs a path"},
      {"image a\nimage b", "line 2: a second image line"},
      {"module", "line 1: module needs a name"},
      {"module IOS 256", "line 1: load count must be a number from 0 to 255, not 256"},
      {"module IOS -1", "line 1: load count must be a number from 0 to 255, not -1"},
      {"module IOS 99999999999999999999", "line 1: load count must be a number from 0 to 255, not 99999999999999999999"},
      {"device", "line 1: device needs a name"},
      {"device ABCDEFGHI", "line 1: device name longer than 8 characters: ABCDEFGHI"},
      {"device IOS X", "line 1: device name with blanks inside"},
  };
  for (const auto& [text, message] : cases) {
    MachineDescription d;
    d.image = "left over";
    std::string error;
    EXPECT_FALSE(kernel_standin::ParseMachineDescription(text, &d, &error)) << text;
    EXPECT_EQ(error, message);
    EXPECT_TRUE(d.image.empty() && d.modules.empty() && d.devices.empty());
  }
  MachineDescription d;
  std::string error, many;
  for (size_t i = 0; i <= kernel_standin::kMaxListEntries; ++i) many += "device D\n";
  EXPECT_FALSE(kernel_standin::ParseMachineDescription(many, &d, &error));
  EXPECT_EQ(error, "line 4097: too many devices");
}

TEST(MachineDescription, TheLoadedDriverJoinsBothListsOnce) {
  MachineDescription d;
  d.modules = {{"IOS", 1}};
  d.devices = {"VMM     "};
  kernel_standin::AddLoadedDriver(&d, "ORV_DE", "ORV_DE  ");
  ASSERT_EQ(d.modules.size(), 2u);
  EXPECT_EQ(d.modules[1].name, "ORV_DE");
  EXPECT_EQ(d.devices, (std::vector<std::string>{"VMM     ", "ORV_DE  "}));

  MachineDescription placed;
  placed.modules = {{"orv_de", 2}, {"IOS", 1}};
  placed.devices = {"ORV_DE  ", "VMM     "};
  kernel_standin::AddLoadedDriver(&placed, "ORV_DE", "ORV_DE  ");
  EXPECT_EQ(placed.modules.size(), 2u);
  EXPECT_EQ(placed.modules[0].load_count, 2);
  EXPECT_EQ(placed.devices.size(), 2u);
}

}  // namespace
