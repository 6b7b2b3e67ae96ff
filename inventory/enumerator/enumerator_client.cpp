#include "enumerator_client.h"

#include <string.h>

#include "enumerator_replies.h"
#include "owner.h"

void QueryEnumeratorDriver(DriverNameList& driverNames, DeviceNameList& deviceNames) {
    using namespace enumerator_replies;

    driverNames.Clear();
    deviceNames.TakeReply(false, 0);
    // Opening the device loads the driver file deployed in the system directory. The
    // delete-on-close flag is what makes the system unload the driver when the handle is closed;
    // the file itself is not touched, since the device is opened, not the file.
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
