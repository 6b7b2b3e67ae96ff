#include "inventory_run.h"

#include "device_tree_scan.h"
#include "driver_file_scan.h"
#include "enumerator_client.h"
#include "enumerator_lists.h"
#include "enumerator_matches.h"
#include "row_stamps.h"
#include "version_cache/version_cache.h"
#include "version_cache/version_cache_registry.h"

void RunInventory(DriverTable& table) {
    // What the running system has loaded, from the enumerator driver, which is in memory only
    // for these requests.
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    QueryEnumeratorDriver(driverNames, deviceNames);
    if (!driverNames.Allocated() || !deviceNames.Allocated()) table.MarkShortOfMemory();

    // Every driver file with its version stamp, taken from the cache where the file did not
    // change since an earlier run; the cache is written back only when it changed.
    VersionCache cache;
    LoadVersionCache(cache);
    ScanDriverFiles(table);
    StampRows(table, cache);
    if (cache.Dirty()) SaveVersionCache(cache);

    // Which files are in use: the device tree, then the two lists. Each step only sets flags,
    // so a row marked once is not compared again.
    ScanDeviceTree(table);
    MatchDriverNames(driverNames, table);
    MatchDeviceNames(deviceNames, table);

    // Only the rows that are in use and carry a version stamp remain.
    table.Compact();
}
