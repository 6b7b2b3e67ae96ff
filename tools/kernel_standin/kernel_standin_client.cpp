// A client of "\\.\ORV_DE.vxd" for kernel_standin_test. Without an argument it talks to the
// device exactly as the inventory does (the same open, the 0x8002 loop, the 0x8003 request,
// the close) and prints what it gets, one line per answer. With a file of request lines
// (enumerator_request_cases.h) it sends each request instead, its output between guard bytes,
// and prints one outcome line for each.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "enumerator_protocol.h"
#include "enumerator_request_cases.h"

namespace {

int SendRequests(HANDLE device, const char* path) {
    using namespace enumerator_cases;
    std::ifstream lines(path);
    std::string line;
    while (std::getline(lines, line)) {
        ParsedRequest request;
        if (!ParseRequestLine(line, &request)) {
            std::printf("bad request line %s\n", line.c_str());
            return 1;
        }
        std::vector<char> input(request.input.begin(), request.input.end());
        GuardedOutput output(request.outputSize, request.nullOutput);
        DWORD count = kByteCountUntouched;
        const BOOL ok =
            DeviceIoControl(device, request.code, request.nullInput || input.empty() ? nullptr : input.data(),
                            static_cast<DWORD>(input.size()), output.Pointer(), request.outputSize, &count, nullptr);
        RequestOutcome outcome;
        outcome.status = ok ? 0 : GetLastError();
        outcome.byteCount = count;
        output.Read(&outcome);
        std::printf("%s\n", OutcomeLine(outcome).c_str());
    }
    return 0;
}

}   // namespace

int main(int argc, char** argv) {
    HANDLE device = CreateFileA("\\\\.\\ORV_DE.vxd", 0, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("open failed %lu\n", GetLastError());
        return 0;
    }
    if (argc > 1) {
        const int result = SendRequests(device, argv[1]);
        CloseHandle(device);
        return result;
    }
    DWORD version = 0, count = 0;
    BOOL ok = DeviceIoControl(device, ENUMDRV_GET_VERSION, nullptr, 0, &version, ENUMDRV_VERSION_SIZE, &count, nullptr);
    std::printf("version %d %lu 0x%08lX\n", ok ? 1 : 0, count, version);

    for (DWORD index = 0; index < 1024; ++index) {
        unsigned char record[ENUMDRV_MODULE_RECORD_SIZE];
        std::memset(record, 0xCC, sizeof record);
        count = 0;
        ok = DeviceIoControl(device, ENUMDRV_GET_MODULE, &index, ENUMDRV_MODULE_INDEX_SIZE, record, sizeof record,
                             &count, nullptr);
        if (!ok || count == 0 || count == ENUMDRV_STATUS_INDEX_PAST_END || count == ENUMDRV_STATUS_NO_LIST) {
            std::printf("end %lu %d %lu 0x%08lX\n", index, ok ? 1 : 0, count, ok ? 0 : GetLastError());
            break;
        }
        char name[17] = {};
        std::memcpy(name, record + 1, 16);
        std::printf("module %lu %u %s\n", index, record[0], name);
    }

    static unsigned char names[ENUMDRV_DEVICE_REPLY_CAPACITY];
    count = 0;
    ok = DeviceIoControl(device, ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, names, sizeof names, &count, nullptr);
    std::printf("devices %d %lu 0x%08lX\n", ok ? 1 : 0, count, ok ? 0 : GetLastError());
    for (DWORD at = 0; ok && at + 9 <= count; at += 9)
        std::printf("device [%s]\n", reinterpret_cast<char*>(names + at));
    count = 0xA5A5;
    ok = DeviceIoControl(device, ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, names, 0, &count, nullptr);
    std::printf("no room %d %lu %lu\n", ok ? 1 : 0, count, ok ? 0 : GetLastError());

    std::printf("close %d\n", CloseHandle(device) ? 1 : 0);
    return 0;
}
