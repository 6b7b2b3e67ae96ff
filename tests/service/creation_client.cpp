// A client process for the concurrent creation and load tests: it creates one Drivers body, as a
// program that creates the object does, and writes the list it got to a file, one "name=value"
// line per element in index order.
//
//   creation_client.exe START_EVENT READY_SEMAPHORE OUTPUT_FILE [CREATIONS SEQUENCE_MAPPING]
//
// It signals READY_SEMAPHORE once it has started and creates the object when START_EVENT is
// set, so that several clients create their objects at the same moment.
//
// Given CREATIONS and SEQUENCE_MAPPING (the name of a shared 32-bit counter that another process
// advances as it changes the machine), it creates CREATIONS objects one after the other and
// writes one block per object, appended and flushed as each is done:
//
//   creation BEFORE AFTER        the counter read just before the creation and just after
//   name=value                   the list, one element a line in index order
//   end
//
// so that each list can be judged against what the machine was between those two readings.
//
// The executable carries its own "DRIVER" 201 resource (the kernel stand-in, a driver file the
// platform here can load), and its disk is slow: every write of the product's goes to the disk
// in pieces with pauses in between, so that a deployment takes long enough for the others to
// meet it half done.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "drivers_fixture.h"
#include "import_patch.h"

namespace {

const int kPieces = 16;
const DWORD kPauseMs = 40;
const DWORD kStartTimeoutMs = 120000;

decltype(&WriteFile) g_realWriteFile = nullptr;

BOOL WINAPI SlowWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    const BYTE* next = static_cast<const BYTE*>(bytes);
    DWORD piece = size / kPieces ? size / kPieces : size;
    DWORD total = 0;
    while (total < size) {
        DWORD part = size - total < piece ? size - total : piece;
        DWORD done = 0;
        if (!g_realWriteFile(file, next + total, part, &done, overlapped)) {
            if (written) *written = total + done;
            return FALSE;
        }
        total += done;
        if (done == 0) break;
        Sleep(kPauseMs);
    }
    if (written) *written = total;
    return TRUE;
}

std::string Narrow(BSTR text) {
    std::string result;
    if (text) {
        for (UINT i = 0; i < SysStringLen(text); ++i) result += static_cast<char>(text[i]);
    }
    SysFreeString(text);
    return result;
}

// The list of one new object, one "name=value" line per element in index order.
std::string CreateAndList() {
    std::string lines;
    TestDrivers drivers;
    long size = 0;
    drivers.GetDataListSize(&size);
    for (long i = 0; i < size; ++i) {
        BSTR name = nullptr, value = nullptr;
        drivers.GetDataListName(i, &name);
        drivers.GetDataListValueByIndex(i, &value);
        lines += Narrow(name) + "=" + Narrow(value) + "\n";
    }
    return lines;
}

// Creates `creations` objects, each between two readings of the shared counter.
int CreateRepeatedly(long creations, const char* sequenceName, FILE* output) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, sequenceName);
    const volatile LONG* sequence =
        mapping ? static_cast<const volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(LONG)))
                : nullptr;
    if (!sequence) return 6;
    for (long i = 0; i < creations; ++i) {
        const LONG before = *sequence;
        const std::string lines = CreateAndList();
        const LONG after = *sequence;
        fprintf(output, "creation %ld %ld\n%send\n", static_cast<long>(before), static_cast<long>(after),
                lines.c_str());
        fflush(output);
    }
    UnmapViewOfFile(const_cast<LONG*>(sequence));
    CloseHandle(mapping);
    return 0;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        fprintf(stderr,
                "usage: creation_client START_EVENT READY_SEMAPHORE OUTPUT_FILE [CREATIONS SEQUENCE_MAPPING]\n");
        return 2;
    }
    ScopedImportPatch slowDisk("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&SlowWriteFile));
    g_realWriteFile = reinterpret_cast<decltype(&WriteFile)>(slowDisk.previous());
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, argv[1]);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, argv[2]);
    if (!g_realWriteFile || !start || !ready) {
        fprintf(stderr, "creation_client: cannot set up (error %lu)\n", GetLastError());
        return 3;
    }
    ReleaseSemaphore(ready, 1, nullptr);
    if (WaitForSingleObject(start, kStartTimeoutMs) != WAIT_OBJECT_0) return 4;

    int result = 0;
    {
        ScopedServerModule module(GetModuleHandleA(nullptr));
        FILE* output = fopen(argv[3], "wb");
        if (!output) return 5;
        if (argc == 6) {
            result = CreateRepeatedly(strtol(argv[4], nullptr, 10), argv[5], output);
        } else {
            const std::string lines = CreateAndList();
            fwrite(lines.data(), 1, lines.size(), output);
        }
        fclose(output);
    }
    CloseHandle(start);
    CloseHandle(ready);
    return result;
}
