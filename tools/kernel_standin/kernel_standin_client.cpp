// A client of "\\.\ORV_DE.vxd" that talks to the device exactly as the inventory does (the
// same open, the 0x8002 loop, the 0x8003 request, the close) and prints what it gets, one
// line per answer, for kernel_standin_test.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  HANDLE device = CreateFileA("\\\\.\\ORV_DE.vxd", 0, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    std::printf("open failed %lu\n", GetLastError());
    return 0;
  }
  DWORD version = 0, count = 0;
  BOOL ok = DeviceIoControl(device, 0x8001, nullptr, 0, &version, 4, &count, nullptr);
  std::printf("version %d %lu 0x%08lX\n", ok ? 1 : 0, count, version);

  for (DWORD index = 0; index < 1024; ++index) {
    unsigned char record[17];
    std::memset(record, 0xCC, sizeof record);
    count = 0;
    ok = DeviceIoControl(device, 0x8002, &index, 4, record, 17, &count, nullptr);
    if (!ok || count == 0 || count == 0xFFFFFFFE || count == 0xFFFFFFFF) {
      std::printf("end %lu %d %lu 0x%08lX\n", index, ok ? 1 : 0, count, ok ? 0 : GetLastError());
      break;
    }
    char name[17] = {};
    std::memcpy(name, record + 1, 16);
    std::printf("module %lu %u %s\n", index, record[0], name);
  }

  static unsigned char names[2304];
  count = 0;
  ok = DeviceIoControl(device, 0x8003, nullptr, 0, names, sizeof names, &count, nullptr);
  std::printf("devices %d %lu 0x%08lX\n", ok ? 1 : 0, count, ok ? 0 : GetLastError());
  for (DWORD at = 0; ok && at + 9 <= count; at += 9) std::printf("device [%s]\n", reinterpret_cast<char*>(names + at));
  count = 0xA5A5;
  ok = DeviceIoControl(device, 0x8003, nullptr, 0, names, 0, &count, nullptr);
  std::printf("no room %d %lu %lu\n", ok ? 1 : 0, count, ok ? 0 : GetLastError());

  std::printf("close %d\n", CloseHandle(device) ? 1 : 0);
  return 0;
}
