#include "machine_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace provisioner {
namespace {

TEST(MachineFile, ReadsEveryKindOfLine) {
    const std::string text =
        "# a small machine\r\n"
        "file system  VPOWERD.VXD 4.10.0.2222 1999-04-23 22:22:00\r\n"
        "file drivers UHCD.SYS    -           2000-02-29 23:59:59\n"
        "file iosubsys esdi_506.pdr 65535.0.1999.0 1601-01-01 00:00:00\n"
        "\n"
        "  node C29A1080   ROOT\\*PNP0C05\\0000  \n"
        "hardware ROOT\\*PNP0C05\\0000 System\\0005\n"
        "hardware ROOT\\PRINTER\\0000\n"
        "class System\\0005 DeviceVxDs vpowerd.vxd, pci.vxd\n"
        "class System\\0005 Driver \"\"\n"
        "class System\\0006 PortDriver \" lpt.vxd \"\n"
        "module ORV_DE 1\n"
        "enumerator 1999-11-05 09:30:00\n"
        "device IOS\n";
    Machine machine;
    std::string error;
    ASSERT_TRUE(ParseMachineFile(text, &machine, &error)) << error;

    ASSERT_EQ(machine.files.size(), 3u);
    EXPECT_EQ(machine.files[0].directory, DriverDirectory::kSystem);
    EXPECT_EQ(machine.files[0].name, "VPOWERD.VXD");
    EXPECT_TRUE(machine.files[0].hasVersion);
    EXPECT_EQ(machine.files[0].version[1], 10);
    EXPECT_EQ(machine.files[0].version[3], 2222);
    EXPECT_EQ(machine.files[0].lastWrite.hour, 22);
    EXPECT_EQ(machine.files[1].directory, DriverDirectory::kDrivers);
    EXPECT_FALSE(machine.files[1].hasVersion);
    EXPECT_EQ(machine.files[1].lastWrite.day, 29);
    EXPECT_EQ(machine.files[2].directory, DriverDirectory::kIoSubSys);
    EXPECT_EQ(machine.files[2].name, "esdi_506.pdr");   // as written: the scan upper-cases
    EXPECT_EQ(machine.files[2].version[0], 65535);
    EXPECT_EQ(machine.files[2].version[2], 1999);

    ASSERT_EQ(machine.nodes.size(), 1u);
    EXPECT_EQ(machine.nodes[0].name, "C29A1080");
    EXPECT_EQ(machine.nodes[0].hardwareKey, "ROOT\\*PNP0C05\\0000");
    ASSERT_EQ(machine.hardwareKeys.size(), 2u);
    EXPECT_TRUE(machine.hardwareKeys[0].hasDriver);
    EXPECT_EQ(machine.hardwareKeys[0].driver, "System\\0005");
    EXPECT_FALSE(machine.hardwareKeys[1].hasDriver);
    ASSERT_EQ(machine.classValues.size(), 3u);
    EXPECT_EQ(machine.classValues[0].name, "DeviceVxDs");
    EXPECT_EQ(machine.classValues[0].data, "vpowerd.vxd, pci.vxd");   // the blank stays
    EXPECT_EQ(machine.classValues[1].data, "");
    EXPECT_EQ(machine.classValues[2].data, " lpt.vxd ");
    EXPECT_EQ(machine.kernelLists, "module ORV_DE 1\ndevice IOS\n");
    ASSERT_EQ(machine.modules.size(), 1u);
    EXPECT_EQ(machine.modules[0].name, "ORV_DE");
    EXPECT_EQ(machine.devices, (std::vector<std::string>{"IOS     "}));
    ASSERT_TRUE(machine.hasEnumeratorTime);
    EXPECT_EQ(machine.enumeratorWritten.month, 11);
    EXPECT_EQ(machine.enumeratorWritten.minute, 30);
}

TEST(MachineFile, RefusesMalformedLinesWithTheirNumber) {
    struct Case {
        const char* line;
        const char* error;   // the start of the message after "line 2: "
    };
    const Case kCases[] = {
        {"file windows A.VXD 4.10.0.2222 1999-04-23 22:22:00", "unknown directory windows"},
        {"file system A.VXD 4.10.0 1999-04-23 22:22:00", "not a file version"},
        {"file system A.VXD 4.10.0.65536 1999-04-23 22:22:00", "not a file version"},
        {"file system A.VXD 4.10.0.2222x 1999-04-23 22:22:00", "not a file version"},
        {"file system A.VXD 4..0.2222 1999-04-23 22:22:00", "not a file version"},
        {"file system A.VXD - 1999-02-29 10:00:00", "not a UTC time"},
        {"file system A.VXD - 1600-12-31 10:00:00", "not a UTC time"},
        {"file system A.VXD - 1999-04-23 24:00:00", "not a UTC time"},
        {"file system A.VXD - 1999-04-23", "a file line is"},
        {"file system A.VXD - 1999-04-23 10:00:00 extra", "a file line is"},
        {"file system SUB\\A.VXD - 1999-04-23 10:00:00", "not a file name"},
        {"file system a.vxd - 1999-04-23 10:00:00", "a second file a.vxd"},
        {"node", "a node line is"},
        {"node A\\B ROOT\\X", "a node line is"},
        {"node N1 \"ROOT\\X", "unterminated quoted value"},
        {"node N1 \"ROOT\\X\" more", "text after the closing quote"},
        {"hardware ROOT\\\\X System\\0000", "a hardware line is"},
        {"hardware \\ROOT System\\0000", "a hardware line is"},
        {"class System\\0000", "a class line is"},
        {"image C:\\ORV_DE.LE", "no image line here"},
        {"device TOOLONGNAME", "device name longer than 8"},
        {"module ORV_DE 256", "load count must be"},
        {"registry HKLM\\X", "unknown line: registry"},
        {"enumerator 1999-11-05", "an enumerator line is"},
        {"enumerator 1999-11-05 09:30:00 extra", "an enumerator line is"},
        {"enumerator 1999-13-05 09:30:00", "not a UTC time"},
    };
    for (const Case& c : kCases) {
        Machine machine;
        machine.files.resize(7);   // must come back empty
        std::string error;
        const std::string text = std::string("file system A.VXD - 1999-04-23 10:00:00\n") + c.line + "\n";
        EXPECT_FALSE(ParseMachineFile(text, &machine, &error)) << c.line;
        EXPECT_EQ(error.rfind(std::string("line 2: ") + c.error, 0), 0u) << c.line << " -> " << error;
        EXPECT_TRUE(machine.files.empty()) << c.line;
    }
}

TEST(MachineFile, RefusesSecondDefinitionsOfTheSameKeyOrValue) {
    const char* kTexts[] = {
        "node N1 A\nnode n1 B\n",
        "hardware ROOT\\A System\\0000\nhardware root\\a\n",
        "class Ports\\0000 PortDriver serial.vxd\nclass PORTS\\0000 portdriver lpt.vxd\n",
        "enumerator 1999-11-05 09:30:00\nenumerator 1999-11-06 09:30:00\n",
    };
    for (const char* text : kTexts) {
        Machine machine;
        std::string error;
        EXPECT_FALSE(ParseMachineFile(text, &machine, &error)) << text;
        EXPECT_EQ(error.rfind("line 2: a second", 0), 0u) << error;
    }
}

// The kernel stand-in's description: the image, module and device lines alone.
TEST(MachineFile, ReadsAStandinDescriptionsImageModulesAndDevicesInOrder) {
    Machine d;
    std::string error;
    ASSERT_FALSE(
        ParseMachineFile("# sample\r\n\n  image C:\\Program Files\\ORV_DE.LE  \r\nmodule VPOWERD 1\nmodule NDIS\t7 x\n",
                         &d, &error, MachineText::kStandinDescription));
    EXPECT_EQ(error, "line 5: module line has more than a name and a load count");

    ASSERT_TRUE(
        ParseMachineFile("# sample\r\n\n  image C:\\Program Files\\ORV_DE.LE  \r\nmodule VPOWERD 1\nmodule NDIS\t7\r\n"
                         "module LONG_MODULE_NAME_OF_22\ndevice VMM\ndevice IOS\ndevice VCOMM\r\ndevice ABCDEFGH",
                         &d, &error, MachineText::kStandinDescription))
        << error;
    EXPECT_EQ(d.image, "C:\\Program Files\\ORV_DE.LE");
    ASSERT_EQ(d.modules.size(), 3u);
    EXPECT_EQ(d.modules[0].name, "VPOWERD");
    EXPECT_EQ(d.modules[1].name, "NDIS");
    EXPECT_EQ(d.modules[1].loadCount, 7);
    EXPECT_EQ(d.modules[2].name, "LONG_MODULE_NAME_OF_22");
    EXPECT_EQ(d.modules[2].loadCount, 1);
    EXPECT_EQ(d.devices, (std::vector<std::string>{"VMM     ", "IOS     ", "VCOMM   ", "ABCDEFGH"}));
}

TEST(MachineFile, RefusesMalformedDescriptionLinesWithTheirNumber) {
    const std::pair<std::string, std::string> cases[] = {
        {"volume C:", "line 1: unknown line: volume"},
        {"file system A.VXD - 1999-04-23 10:00:00", "line 1: unknown line: file"},   // a machine file's line
        {"\nimage", "line 2: image needs a path"},
        {"image a\nimage b", "line 2: a second image line"},
        {"module", "line 1: module needs a name"},
        {"module " + std::string(256, 'M'), "line 1: module name longer than 255 characters"},
        {"module IOS 256", "line 1: load count must be a number from 0 to 255, not 256"},
        {"module IOS -1", "line 1: load count must be a number from 0 to 255, not -1"},
        {"module IOS 99999999999999999999",
         "line 1: load count must be a number from 0 to 255, not 99999999999999999999"},
        {"device", "line 1: device needs a name"},
        {"device ABCDEFGHI", "line 1: device name longer than 8 characters: ABCDEFGHI"},
        {"device IOS X", "line 1: device name with blanks inside"},
    };
    for (const auto& [text, message] : cases) {
        Machine d;
        d.image = "left over";
        std::string error;
        EXPECT_FALSE(ParseMachineFile(text, &d, &error, MachineText::kStandinDescription)) << text;
        EXPECT_EQ(error, message);
        EXPECT_TRUE(d.image.empty() && d.modules.empty() && d.devices.empty());
    }
    for (const char* line : {"device D\n", "module M\n"}) {
        Machine d;
        std::string error, many;
        for (size_t i = 0; i <= kMaxListEntries; ++i) many += line;
        EXPECT_FALSE(ParseMachineFile(many, &d, &error, MachineText::kStandinDescription));
        EXPECT_EQ(error, line[0] == 'd' ? "line 4097: too many devices" : "line 4097: too many modules");
    }
}

TEST(MachineFile, TheLoadedDriverJoinsBothListsOnce) {
    Machine d;
    d.modules = {{"IOS", 1}};
    d.devices = {"VMM     "};
    AddLoadedDriver(&d, "ORV_DE", "ORV_DE  ");
    ASSERT_EQ(d.modules.size(), 2u);
    EXPECT_EQ(d.modules[1].name, "ORV_DE");
    EXPECT_EQ(d.devices, (std::vector<std::string>{"VMM     ", "ORV_DE  "}));

    Machine placed;
    placed.modules = {{"orv_de", 2}, {"IOS", 1}};
    placed.devices = {"ORV_DE  ", "VMM     "};
    AddLoadedDriver(&placed, "ORV_DE", "ORV_DE");
    EXPECT_EQ(placed.modules.size(), 2u);
    EXPECT_EQ(placed.modules[0].loadCount, 2);
    EXPECT_EQ(placed.devices.size(), 2u);
}

// The bundled sample machine parses, and its lists are what the stand-in reads.
TEST(MachineFile, BundledSampleMachineParses) {
    std::ifstream in(std::string(BRANTOVIX_MACHINES_DIR) + "/win98se.txt", std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    Machine machine;
    std::string error;
    ASSERT_TRUE(ParseMachineFile(text.str(), &machine, &error)) << error;
    size_t unversioned = 0, inIoSubsys = 0;
    for (const DriverFile& file : machine.files) {
        unversioned += file.hasVersion ? 0 : 1;
        inIoSubsys += file.directory == DriverDirectory::kIoSubSys ? 1 : 0;
    }
    EXPECT_EQ(machine.files.size(), 34u);
    EXPECT_EQ(unversioned, 3u);
    EXPECT_EQ(inIoSubsys, 12u);
    EXPECT_EQ(machine.nodes.size(), 16u);
    EXPECT_EQ(machine.hardwareKeys.size(), 15u);
    EXPECT_EQ(machine.kernelLists.rfind("module ORV_DE 1\n", 0), 0u);
}

}   // namespace
}   // namespace provisioner
