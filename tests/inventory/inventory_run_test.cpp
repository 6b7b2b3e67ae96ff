// A whole inventory on a prepared machine, through the Drivers body: driver files with real
// version resources and chosen times in the three driver directories, a device tree in the
// registry, and the test device answering for the enumerator driver. The list must hold the
// files that the tree or the two lists make active and that carry a stamp, in scan order,
// each as its name and stamp pair and its "DATE-" pair, the first pair first and the rest in
// reverse behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "callers_directory.h"
#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_machine.h"
#include "enumerator_protocol.h"
#include "file_aside.h"
#include "drivers_fixture.h"
#include "test_device_control.h"
#include "windows_version.h"

namespace {

using device_tree_fixture::DeviceTree;
using namespace driver_fixtures;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

struct ExpectedRow {
    std::string name;
    std::string stamp;
    std::string date;
};

std::vector<std::pair<std::wstring, std::wstring>> ReadList(TestDrivers& drivers) {
    std::vector<std::pair<std::wstring, std::wstring>> list;
    long size = 0;
    EXPECT_EQ(S_OK, drivers.GetDataListSize(&size));
    for (long i = 0; i < size; ++i) {
        BSTR name = nullptr, value = nullptr;
        drivers.GetDataListName(i, &name);
        drivers.GetDataListValueByIndex(i, &value);
        list.emplace_back(TakeText(name), TakeText(value));
    }
    return list;
}

// Pairs p1..pn of the rows in order; the list reads p1, pn, pn-1, ..., p2.
std::vector<std::pair<std::wstring, std::wstring>> ExpectedList(const std::vector<ExpectedRow>& rows) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (const ExpectedRow& row : rows) {
        pairs.emplace_back(Wide(row.name), Wide(row.stamp));
        pairs.emplace_back(Wide("DATE-" + row.name), Wide(row.date));
    }
    if (pairs.size() > 1) std::reverse(pairs.begin() + 1, pairs.end());
    return pairs;
}

TEST(InventoryRun, PreparedMachineGivesTheActiveStampedFilesInScanOrder) {
    ASSERT_TRUE(InWindows98Mode());

    TestDeviceControl device;
    ASSERT_TRUE(device.Load()) << TestDeviceControl::FilePath();
    device.Reset();

    const DriverDirectories directories = GetDriverDirectories();
    CacheKeyBackup cacheBackup;
    PlacedFiles files;

    // Names of this process's own, so that neither the platform's files nor an earlier run's
    // cache entries meet them.
    const std::string tag = "Q" + std::to_string(GetCurrentProcessId() % 100000);
    const std::string pnp = tag + "PNP.VXD", noStamp = tag + "NOV.VXD", idle = tag + "IDL.VXD";
    const std::string module = tag + "MOD.DRV", duplicate = tag + "DUP.386";
    const std::string classDriver = tag + "DEV.SYS", port = tag + "ESD.PDR";
    const std::string hostile = tag + "HUG.SYS";   // claims a version size no block can have
    struct Placement {
        std::string directory, name;
        std::vector<uint8_t> bytes;
        FILETIME lastWrite;
    } placements[] = {
        {directories.system, pnp, BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 7, 4, 23, 30)},
        {directories.system, noStamp, BuildPeWithoutFixedInfo(), UtcFileTime(1999, 7, 5, 8, 0)},
        {directories.system, idle, BuildVersionedPe({5, 0, 0, 1}), UtcFileTime(1999, 7, 6, 8, 0)},
        {directories.system, module, BuildVersionedNe({1, 2, 3, 4}), UtcFileTime(2000, 1, 2, 0, 0)},
        {directories.system, duplicate, BuildVersionedPe({4, 10, 1999, 0}), UtcFileTime(2001, 12, 31, 12, 0)},
        {directories.drivers, classDriver, BuildVersionedPe({5, 0, 2195, 1}), UtcFileTime(2002, 2, 3, 4, 5)},
        {directories.ioSubSys, duplicate, BuildVersionedPe({4, 10, 100, 100}), UtcFileTime(1998, 6, 25, 0, 1)},
        {directories.ioSubSys, port, BuildVersionedPe({4, 0, 0, 950}), UtcFileTime(1998, 5, 15, 22, 22)},
        {directories.system, hostile, BuildPeClaimingVersionSize({4, 10, 0, 2222}, 0x7FFF0000u),
         UtcFileTime(1999, 7, 7, 8, 0)},
    };
    for (const Placement& p : placements) {
        ASSERT_NE("", files.Place(p.directory, p.name, p.bytes, p.lastWrite)) << p.directory << "\\" << p.name;
    }

    DeviceTree tree;
    tree.AddChain("PNP", "PNP");
    tree.SetClassValue("PNP", "DeviceVxDs", Lower(pnp) + "," + Lower(noStamp) + "," + Lower(hostile));
    tree.AddChain("DEV", "DEV");
    tree.SetClassValue("DEV", "Driver", classDriver);
    tree.AddChain("ESD", "ESD");
    tree.SetClassValue("ESD", "PortDriver", port);

    // The enumerator driver reports itself among the loaded modules; the deployed file has no
    // version resource, so its row does not survive.
    ASSERT_TRUE(device.AddModule(Lower(tag) + "mod"));
    ASSERT_TRUE(device.AddModule(tag + "DUP"));
    ASSERT_TRUE(device.AddModule("ORV_DE"));
    ASSERT_TRUE(device.AddDevice("VMM"));
    ASSERT_TRUE(device.AddDevice("IOS"));

    ScopedServerModule serverModule(GetModuleHandleA(nullptr));
    std::vector<ExpectedRow> rows = {
        {pnp, "04.10.00.2222", "1999/07/04"},           // device tree, system directory, *.vxd
        {module, "01.02.03.0004", "2000/01/02"},        // module list (NE file), *.drv
        {duplicate, "04.10.00.1999", "2001/12/31"},     // module list, *.386
        {classDriver, "05.00.01.2195", "2002/02/03"},   // device tree "Driver", System32\Drivers
        {duplicate, "04.10.100.0100", "1998/06/25"},    // module list marks every same-named row
        {port, "04.00.00.0950", "1998/05/15"},          // device tree "PortDriver", IoSubSys, *.pdr
    };
    {
        TestDrivers drivers;
        EXPECT_EQ(S_OK, drivers.ConstructionResult());
        EXPECT_EQ(ExpectedList(rows), ReadList(drivers));
    }
    EXPECT_EQ(4u, device.RequestsOf(ENUMDRV_GET_MODULE).size());
    EXPECT_EQ(1u, device.RequestsOf(ENUMDRV_GET_DEVICE_NAMES).size());

    // A second run takes every stamp from the version cache, which keeps 13 characters.
    rows[4].stamp = "04.10.100.010";
    {
        TestDrivers drivers;
        EXPECT_EQ(S_OK, drivers.ConstructionResult());
        EXPECT_EQ(ExpectedList(rows), ReadList(drivers));
    }
    EXPECT_EQ(8u, device.RequestsOf(ENUMDRV_GET_MODULE).size());
}

// A client that writes a file by a relative name after creating the object, as the README's
// example does with its CSV file, finds it where it ran: the creation leaves the process's
// current directory as it was.
TEST(InventoryRun, CallersRelativePathsResolveWhereTheyDidBeforeTheCreation) {
    TestDeviceControl device;
    ASSERT_TRUE(device.Load()) << TestDeviceControl::FilePath();
    device.Reset();
    const DriverDirectories directories = GetDriverDirectories();
    CacheKeyBackup cacheBackup;
    PlacedFiles files;
    ASSERT_TRUE(files.EnsureDirectory(directories.ioSubSys)) << "every driver directory exists";
    ScopedServerModule serverModule(GetModuleHandleA(nullptr));

    CallersDirectory caller;
    ASSERT_FALSE(caller.Path().empty());
    { TestDrivers drivers; }
    ASSERT_EQ(1u, device.RequestsOf(ENUMDRV_GET_DEVICE_NAMES).size()) << "the creation ran the inventory";
    EXPECT_TRUE(caller.IsCurrent());
    EXPECT_TRUE(caller.RelativeFileLandsHere("drivers.csv"));
}

}   // namespace
