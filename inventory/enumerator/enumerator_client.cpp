#include "enumerator_client.h"

#include <string.h>

#include "device_file_rule.h"
#include "enumerator_replies.h"
#include "owner.h"

namespace {

// The rule's questions, answered by the platform.
class Win32DeviceFileLookup : public device_file_rule::DeviceFileLookup {
public:
    uint32_t ProgramPath(char* out, uint32_t capacity) const override {
        return GetModuleFileNameA(nullptr, out, capacity);
    }
    uint32_t CurrentDirectory(char* out, uint32_t capacity) const override {
        return GetCurrentDirectoryA(capacity, out);
    }
    uint32_t SystemDirectory(char* out, uint32_t capacity) const override { return GetSystemDirectoryA(out, capacity); }
    uint32_t ShortPath(const char* path, char* out, uint32_t capacity) const override {
        return GetShortPathNameA(path, out, capacity);
    }
    device_file_rule::FileState StateOf(const char* path) const override {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return device_file_rule::FileState::kPresent;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return device_file_rule::FileState::kAbsent;
        return device_file_rule::FileState::kUnknown;
    }
    const char* Next(const char* text) const override { return CharNextA(text); }
    int CompareNoCase(const char* left, const char* right) const override { return lstrcmpiA(left, right); }
};

}   // namespace

void QueryEnumeratorDriver(DriverNameList& driverNames, DeviceNameList& deviceNames) {
    using namespace enumerator_replies;

    driverNames.Clear();
    deviceNames.TakeReply(false, 0);
    // Opening the device by its name loads the first ORV_DE.VXD along the system's search path:
    // the device is opened only when that is the file deployed in the system directory
    // (device_file_rule.h). What the check cannot rule out: a file put in the program's or the
    // current directory between the check and the open is still loaded, and on Windows 95/98,
    // which have no access control, anyone who can write those directories can write the
    // system directory as well.
    if (!device_file_rule::OnlyTheDeployedFileCanLoad(Win32DeviceFileLookup())) return;
    // The delete-on-close flag is what makes the system unload the driver when the handle is
    // closed; the file itself is not touched, since the device is opened, not the file.
    FileHandle device(CreateFileA(ENUMDRV_DEVICE_PATH, 0, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!device) return;

    // Module names by index until the driver has no more. The byte count is reset and the
    // record cleared before every request: a reply that sets no count ends the loop, and no
    // slot can receive a name left over from the previous record.
    BYTE record[ENUMDRV_MODULE_RECORD_SIZE];
    for (DWORD index = 0; !driverNames.Full(); ++index) {
        memset(record, 0, sizeof(record));
        DWORD byteCount = 0;
        const BOOL succeeded = DeviceIoControl(device.get(), ENUMDRV_GET_MODULE, &index, sizeof(index), record,
                                               sizeof(record), &byteCount, nullptr);
        if (EndsModuleLoop(succeeded != FALSE, byteCount)) break;
        driverNames.AddModuleRecord(record);
    }

    // Device names: the reply is written straight into the 2304-byte list.
    BYTE* reply = deviceNames.ReplyBuffer();
    if (!reply) return;
    DWORD byteCount = 0;
    const BOOL succeeded = DeviceIoControl(device.get(), ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, reply,
                                           DeviceNameList::kDeviceNameListSize, &byteCount, nullptr);
    deviceNames.TakeReply(succeeded != FALSE, byteCount);
}
