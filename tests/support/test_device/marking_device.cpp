// Test equipment: an ORV_DE.VXD planted where the enumerator driver client must not let the
// platform load it from. Loading it leaves a mark, a file named after its own path with
// ".LOADED" appended; its DeviceIoControl answers the first module request with the name
// "PLANTED" and fails every other request, so a list it filled shows it.
#include <windows.h>

#include <string.h>

#include "enumerator_protocol.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    lstrcatA(path, ".LOADED");
    HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    return TRUE;
}

extern "C" BOOL WINAPI MarkingDeviceIoControl(DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                                              DWORD outputSize, LPDWORD bytesReturned, LPOVERLAPPED) {
    DWORD index = 1;
    if (input && inputSize >= sizeof(index)) memcpy(&index, input, sizeof(index));
    if (code != ENUMDRV_GET_MODULE || index != 0 || !output || outputSize < ENUMDRV_MODULE_RECORD_SIZE) {
        SetLastError(ENUMDRV_STATUS_INDEX_PAST_END);
        return FALSE;
    }
    BYTE* record = static_cast<BYTE*>(output);
    memset(record, 0, ENUMDRV_MODULE_RECORD_SIZE);
    record[ENUMDRV_MODULE_LOAD_COUNT_OFFSET] = 1;
    memcpy(record + ENUMDRV_MODULE_NAME_OFFSET, "PLANTED", 7);
    if (bytesReturned) *bytesReturned = ENUMDRV_MODULE_RECORD_SIZE;
    return TRUE;
}
