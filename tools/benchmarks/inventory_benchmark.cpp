// What the version cache saves: a whole inventory over 1023 driver files without the cache
// (every file's version resource read), with it (every stamp from the cache), and a bare listing
// of the same directories and patterns, printed as times and ratios. Run it in the build's prefix:
//   tools/wine/wine-run.sh build/win32/tools/benchmarks/inventory_benchmark.exe [runs]
// It adds driver files to the "IoSubSys" directory until the directories hold 1023, and puts
// the files and the cache key back as they were when it is done.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver_file_image.h"
#include "driver_inventory.h"
#include "driver_machine.h"

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
    DriverInventory* inventory = new DriverInventory(0);
    delete inventory;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const driver_fixtures::DriverDirectories directories = driver_fixtures::GetDriverDirectories();
    driver_fixtures::CacheKeyBackup cache;
    driver_fixtures::PlacedFiles files;

    // Fill up to 1023 files with real version resources, spread over the six patterns.
    const char* const extensions[] = {".VXD", ".DRV", ".SYS", ".386", ".WDM", ".PDR"};
    const size_t present = ListDriverFiles().size();
    const FILETIME time = driver_fixtures::UtcFileTime(1999, 4, 23, 22, 22);
    for (size_t i = 0; present + i < kDriverFiles; ++i) {
        const driver_fixtures::FileVersion version = {4, 10, static_cast<uint16_t>(i % 100), static_cast<uint16_t>(1998 + i)};
        const std::string name = "BENCH" + std::to_string(i) + extensions[i % 6];
        if (files.Place(directories.ioSubSys, name, driver_fixtures::BuildVersionedPe(version), time).empty()) {
            fprintf(stderr, "cannot write %s\\%s\n", directories.ioSubSys.c_str(), name.c_str());
            return 1;
        }
    }
    const size_t listed = ListDriverFiles().size();

    // One unmeasured pass of each kind, so that every figure reads files the system has cached.
    driver_fixtures::DeleteCacheKey();
    RunInventory();
    ListDriverFiles();

    std::vector<double> cold, warm, listing;
    for (int run = 0; run < runs; ++run) {
        driver_fixtures::DeleteCacheKey();
        cold.push_back(Time(RunInventory));
        warm.push_back(Time(RunInventory));
        listing.push_back(Time([] { ListDriverFiles(); }));
    }
    const double coldMs = Median(cold), warmMs = Median(warm), listingMs = Median(listing);
    printf("Inventory of %u driver files in %s, %s and %s; median of %d runs\n", static_cast<unsigned>(listed),
           directories.system.c_str(), directories.drivers.c_str(), directories.ioSubSys.c_str(), runs);
    printf("  cold run (no version cache, every file read)  %9.1f ms\n", coldMs);
    printf("  warm run (every stamp from the cache)         %9.1f ms\n", warmMs);
    printf("  bare listing of the same directories/patterns %9.1f ms\n", listingMs);
    printf("  cold / listing %.1f   warm / listing %.1f   cold / warm %.1f\n", coldMs / listingMs, warmMs / listingMs,
           coldMs / warmMs);
    return 0;
}
