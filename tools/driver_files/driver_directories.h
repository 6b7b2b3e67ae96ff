// The three driver directories as the inventory forms them, and the last-write times of the
// driver files a machine lays out there (UTC, as the directory search reports them).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver_fixtures {

struct DriverDirectories {
    std::string system;     // GetSystemDirectoryA
    std::string drivers;    // GetWindowsDirectoryA + "\System32\Drivers"
    std::string ioSubSys;   // GetSystemDirectoryA + "\IoSubSys"
    std::vector<std::string> InScanOrder() const { return {system, drivers, ioSubSys}; }
};
DriverDirectories GetDriverDirectories();

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0);
bool SetLastWriteTime(const std::string& path, const FILETIME& lastWrite);

}   // namespace driver_fixtures
