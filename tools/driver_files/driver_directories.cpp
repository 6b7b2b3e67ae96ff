#include "driver_directories.h"

namespace driver_fixtures {

DriverDirectories GetDriverDirectories() {
    char system[MAX_PATH] = {}, windows[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof(system));
    GetWindowsDirectoryA(windows, sizeof(windows));
    return {system, std::string(windows) + "\\System32\\Drivers", std::string(system) + "\\IoSubSys"};
}

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME utc = {};
    utc.wYear = year, utc.wMonth = month, utc.wDay = day;
    utc.wHour = hour, utc.wMinute = minute, utc.wSecond = second;
    FILETIME time = {};
    SystemTimeToFileTime(&utc, &time);
    return time;
}

bool SetLastWriteTime(const std::string& path, const FILETIME& lastWrite) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool done = SetFileTime(file, nullptr, nullptr, &lastWrite) != FALSE;
    CloseHandle(file);
    return done;
}

}   // namespace driver_fixtures
