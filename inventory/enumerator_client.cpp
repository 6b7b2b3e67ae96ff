// Client of the enumerator driver ORV_DE.VXD: opening the device loads the driver, two kinds
// of device I/O control request fetch the module names of the dynamically loaded drivers and
// the device names of every loaded virtual device, closing the handle unloads it. The two
// passes that follow mark rows active from those lists.
#include "driver_inventory.h"

#include <string.h>

#include "enumerator_replies.h"

namespace {

const DWORD kWorkBufferSize = 512;
const DWORD kExtensionLength = 4;   // what MatchDriverNames cuts off: ".VXD"

int CompareNames(const char* left, const char* right) { return lstrcmpiA(left, right); }

}  // namespace

void DriverInventory::QueryEnumeratorDriver() {
    using namespace enumerator_replies;

    // Opening the device loads the driver file deployed in the system directory; the
    // delete-on-close flag makes the system unload the driver at the close.
    HANDLE device = CreateFileA(ENUMDRV_DEVICE_PATH, 0, 0, nullptr, OPEN_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == INVALID_HANDLE_VALUE) return;

    // Module names by index until the driver has no more. The byte count is reset and the
    // record cleared before every request: a reply that sets no count ends the loop, and no
    // slot can receive a name left over from the previous record.
    BYTE record[ENUMDRV_MODULE_RECORD_SIZE];
    DWORD index = 0;
    driverNameCount_ = 0;
    while (driverNameCount_ < kDriverNameSlots) {
        memset(record, 0, sizeof(record));
        DWORD byteCount = 0;
        BOOL succeeded = DeviceIoControl(device, ENUMDRV_GET_MODULE, &index, sizeof(index), record,
                                         sizeof(record), &byteCount, nullptr);
        if (EndsModuleLoop(succeeded != FALSE, byteCount)) break;
        StoreModuleName(driverNames_[driverNameCount_], kDriverNameSlotSize, record);
        ++driverNameCount_;
        ++index;
    }

    // Device names: the reply is written straight into the 2304-byte list.
    deviceNameCount_ = 0;
    DWORD byteCount = 0;
    BOOL succeeded = DeviceIoControl(device, ENUMDRV_GET_DEVICE_NAMES, nullptr, 0, deviceNames_,
                                     kDeviceNameListSize, &byteCount, nullptr);
    deviceNameCount_ = DeviceNameCount(succeeded != FALSE, byteCount, kDeviceNameListSize);

    CloseHandle(device);
}

DWORD DriverInventory::FindDriverName(const char* name) const {
    return enumerator_replies::FindNameInSlots(driverNames_[0], kDriverNameSlotSize,
                                               driverNameCount_, name, CompareNames);
}

DWORD DriverInventory::FindDeviceName(const char* name) const {
    return enumerator_replies::FindNameInSlots(reinterpret_cast<const char*>(deviceNames_),
                                               kDeviceNameSlotSize, deviceNameCount_, name,
                                               CompareNames);
}

void DriverInventory::MatchDriverNames() {
    char work[kWorkBufferSize];
    for (DWORD i = 0; i < itemCount_; ++i) {
        DriverItem& item = items_[i];
        if (item.active) continue;
        lstrcpynA(work, item.fileName, sizeof(work));
        DWORD length = lstrlenA(work);
        if (length <= kExtensionLength) continue;
        // The last four characters go, whatever they are: IOS.VXD is looked up as IOS.
        work[length - kExtensionLength] = '\0';
        if (FindDriverName(work)) item.active = 1;
    }
}

void DriverInventory::MatchDeviceNames() {
    // The row's device name comes from the shared cache value and may lack its zero byte: it
    // is read as at most 8 characters, within its 9 bytes.
    char deviceName[sizeof(DriverItem::deviceName)];
    for (DWORD i = 0; i < itemCount_; ++i) {
        DriverItem& item = items_[i];
        if (item.active) continue;
        memcpy(deviceName, item.deviceName, sizeof(deviceName) - 1);
        deviceName[sizeof(deviceName) - 1] = '\0';
        if (FindDeviceName(deviceName)) item.active = 1;
    }
}
