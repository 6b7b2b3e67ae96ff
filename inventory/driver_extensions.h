// The extensions of the driver files the inventory lists, in the order it searches for them in
// each directory. The one statement of them: the scan searches "<directory>\*" plus each, and
// every machine, benchmark and seed corpus that lays out driver files takes them from here.
// Free of the platform, so that host programs include it too.
#pragma once

constexpr const char* kDriverExtensions[] = {".VXD", ".DRV", ".SYS", ".386", ".WDM", ".PDR"};
constexpr int kDriverExtensionCount = sizeof(kDriverExtensions) / sizeof(kDriverExtensions[0]);
