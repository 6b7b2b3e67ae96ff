// What an inventory over 1023 driver files costs, against what it cannot avoid: a bare listing
// of the same directories and patterns, and the version reads alone (GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA over the same files, nothing else). A cold run (no
// version cache: every file read) and a warm run (every stamp from the cache), each also with
// the registry limits of Windows 95/98 in force (values of at most 16,300 bytes, at most 64 KB
// of values per key), and where the time of a warm run goes, step by step. Medians of 5 runs
// (or of the count given). Run it in the build's prefix:
//   tools/benchmarks/inventory_benchmark.sh [runs] [--long]
// With --long the files it adds have names of 120 to 228 characters (paths of up to 257, the
// longest the platform opens), so that the cache takes about 20 pieces in 7 keys.
// It adds driver files to the "IoSubSys" directory until the directories hold 1023, and puts
// the files and the cache key back as they were when it is done.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device_tree_scan.h"
#include "driver_file_image.h"
#include "driver_extensions.h"
#include "driver_file_scan.h"
#include "driver_inventory.h"
#include "driver_machine.h"
#include "enumerator_client.h"
#include "enumerator_matches.h"
#include "row_stamps.h"
#include "strict_registry.h"
#include "version_cache/version_cache_registry.h"

namespace {

using driver_fixtures::ListDriverFiles;

const size_t kDriverFiles = 1023;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double Time(Work work) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    work();
    QueryPerformanceCounter(&to);
    return Milliseconds(from, to);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void RunInventory() {
    DriverInventory* inventory = new DriverInventory(RunTiming::kNotShown);
    delete inventory;
}

// What the inventory's stamp step does on a miss, alone: the three version calls per file.
void ReadVersions(const std::vector<std::string>& paths) {
    std::vector<BYTE> block;
    for (const std::string& path : paths) {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        if (size == 0) continue;
        block.resize(size);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) continue;
        void* fixed = nullptr;
        UINT length = 0;
        VerQueryValueA(block.data(), "\\", &fixed, &length);
    }
}

// The steps of a run, timed one by one (the order of RunInventory).
struct Steps {
    std::vector<double> enumerator, load, scan, stamps, save, deviceTree, matches, compaction;
};

void RunInSteps(Steps* steps) {
    DriverTable table;
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    VersionCache cache;
    steps->enumerator.push_back(Time([&] { QueryEnumeratorDriver(driverNames, deviceNames); }));
    steps->load.push_back(Time([&] { LoadVersionCache(cache); }));
    steps->scan.push_back(Time([&] { ScanDriverFiles(table); }));
    steps->stamps.push_back(Time([&] { StampRows(table, cache); }));
    steps->save.push_back(Time([&] {
        if (cache.Dirty()) SaveVersionCache(cache);
    }));
    steps->deviceTree.push_back(Time([&] { ScanDeviceTree(table); }));
    steps->matches.push_back(Time([&] {
        MatchDriverNames(driverNames, table);
        MatchDeviceNames(deviceNames, table);
    }));
    steps->compaction.push_back(Time([&] { table.Compact(); }));
}

}   // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool longNames = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--long") == 0) {
            longNames = true;
        } else {
            runs = std::max(1, atoi(argv[i]));
        }
    }
    const driver_fixtures::DriverDirectories directories = driver_fixtures::GetDriverDirectories();
    driver_fixtures::CacheKeyBackup cacheBackup;
    driver_fixtures::PlacedFiles files;

    // Fill up to 1023 files with real version resources, spread over the driver extensions.
    const size_t present = ListDriverFiles().size();
    const FILETIME time = driver_fixtures::UtcFileTime(1999, 4, 23, 22, 22);
    for (size_t i = 0; present + i < kDriverFiles; ++i) {
        const driver_fixtures::FileVersion version = {4, 10, static_cast<uint16_t>(i % 100),
                                                      static_cast<uint16_t>(1998 + i)};
        std::string name = "BENCH" + std::to_string(i);
        if (longNames) name += "_" + std::string(115 + (i * 37) % 110 - name.size(), static_cast<char>('A' + i % 26));
        name += kDriverExtensions[i % kDriverExtensionCount];
        if (files.Place(directories.ioSubSys, name, driver_fixtures::BuildVersionedPe(version), time).empty()) {
            fprintf(stderr, "cannot write %s\\%s\n", directories.ioSubSys.c_str(), name.c_str());
            return 1;
        }
    }
    std::vector<std::string> paths;
    for (const auto& file : ListDriverFiles()) paths.push_back(file.directory + "\\" + file.name);

    // One unmeasured pass of each kind, so that every figure reads files the system has cached.
    driver_fixtures::DeleteCacheKey();
    RunInventory();
    ListDriverFiles();
    ReadVersions(paths);

    // Each run measures the listing and the version reads right before the runs they are
    // compared with, so that a ratio of one run compares figures taken under the same load
    // (this machine is shared); both the ratio of the medians and the median of the runs'
    // ratios are printed.
    std::vector<double> listing, versions, cold, warm, strictCold, strictWarm;
    std::vector<double> warmRatio, coldRatio, strictWarmRatio, strictColdRatio;
    Steps coldSteps, warmSteps;
    int refused = 0;
    auto listOnce = [&] {
        const double ms = Time([] { ListDriverFiles(); });
        listing.push_back(ms);
        return ms;
    };
    for (int run = 0; run < runs; ++run) {
        driver_fixtures::DeleteCacheKey();
        versions.push_back(Time([&] { ReadVersions(paths); }));
        const double unavoidable = listOnce() + versions.back();
        cold.push_back(Time(RunInventory));
        coldRatio.push_back(cold.back() / unavoidable);
        const double listed = listOnce();
        warm.push_back(Time(RunInventory));
        warmRatio.push_back(warm.back() / listed);
        {
            StrictRegistry strict;
            if (!strict.active()) {
                fprintf(stderr, "the registry limits cannot be put in force\n");
                return 1;
            }
            driver_fixtures::DeleteCacheKey();
            strictCold.push_back(Time(RunInventory));
            strictColdRatio.push_back(strictCold.back() / unavoidable);
            const double listedAgain = listOnce();
            strictWarm.push_back(Time(RunInventory));
            strictWarmRatio.push_back(strictWarm.back() / listedAgain);
            driver_fixtures::DeleteCacheKey();
            RunInSteps(&coldSteps);
            RunInSteps(&warmSteps);
            refused += strict.refused();
        }
    }
    std::vector<RegistryTreeValue> values;
    std::vector<std::string> keys;
    driver_fixtures::ReadCacheTree(&values, &keys);
    size_t pieces = 0, stored = 0;
    for (const auto& value : values) {
        if (value.name.compare(0, 3, "DDB") == 0 && value.name != "DDB Pieces") ++pieces, stored += value.data.size();
    }

    const double listingMs = Median(listing), versionsMs = Median(versions);
    const double coldMs = Median(cold), warmMs = Median(warm);
    const double strictColdMs = Median(strictCold), strictWarmMs = Median(strictWarm);
    printf("Inventory of %u driver files (%s names) in %s, %s and %s; median of %d runs\n",
           static_cast<unsigned>(paths.size()), longNames ? "long" : "short", directories.system.c_str(),
           directories.drivers.c_str(), directories.ioSubSys.c_str(), runs);
    printf("  bare listing of the same directories and patterns  %9.1f ms\n", listingMs);
    printf("  version reads alone (size, info, query per file)    %9.1f ms\n", versionsMs);
    printf("  cold run (no version cache, every file read)        %9.1f ms\n", coldMs);
    printf("  warm run (every stamp from the cache)               %9.1f ms\n", warmMs);
    printf("  with the Windows 95/98 registry limits in force:\n");
    printf("    cold run                                          %9.1f ms\n", strictColdMs);
    printf("    warm run                                          %9.1f ms\n", strictWarmMs);
    printf("    cache stored: %u bytes in %u pieces under %u keys; writes refused: %d\n", static_cast<unsigned>(stored),
           static_cast<unsigned>(pieces), static_cast<unsigned>(keys.size()), refused);
    printf("  step by step, limits in force                       cold        warm\n");
    const struct {
        const char* name;
        std::vector<double> Steps::*times;
    } parts[] = {{"enumerator driver query", &Steps::enumerator},
                 {"cache load", &Steps::load},
                 {"file scan", &Steps::scan},
                 {"stamps (lookups; version reads on a miss)", &Steps::stamps},
                 {"cache save (only when changed)", &Steps::save},
                 {"device tree scan", &Steps::deviceTree},
                 {"list matches", &Steps::matches},
                 {"compaction", &Steps::compaction}};
    for (const auto& part : parts) {
        printf("    %-42s %9.2f ms %8.2f ms\n", part.name, Median(coldSteps.*part.times),
               Median(warmSteps.*part.times));
    }
    printf("  ratios%46s of the medians, median of the runs' ratios\n", "");
    const struct {
        const char* name;
        double ofMedians, medianOfRuns;
        const char* target;
    } ratios[] = {
        {"warm / listing", warmMs / listingMs, Median(warmRatio), ""},
        {"cold / (listing + version reads)", coldMs / (listingMs + versionsMs), Median(coldRatio), ""},
        {"limits in force: warm / listing", strictWarmMs / listingMs, Median(strictWarmRatio), "1.3 or less"},
        {"                 cold / (listing + version reads)", strictColdMs / (listingMs + versionsMs),
         Median(strictColdRatio), "1.1 or less"},
    };
    for (const auto& ratio : ratios) {
        printf("  %-50s %5.2f %8.2f     %s\n", ratio.name, ratio.ofMedians, ratio.medianOfRuns, ratio.target);
    }
    return 0;
}
