#include "enumerator_matches.h"

#include <string.h>

namespace {

const DWORD kWorkBufferSize = 512;
const DWORD kExtensionLength = 4;   // what MatchDriverNames cuts off: ".VXD"

}   // namespace

void MatchDriverNames(const DriverNameList& driverNames, DriverTable& table) {
    char work[kWorkBufferSize];
    for (DWORD row = 0; row < table.Count(); ++row) {
        DriverItem& item = table.Row(row);
        if (item.active) continue;
        lstrcpynA(work, item.fileName, sizeof(work));
        const DWORD length = lstrlenA(work);
        if (length <= kExtensionLength) continue;
        work[length - kExtensionLength] = '\0';
        if (driverNames.FindDriverName(work) != DriverNameList::kNotListed) item.active = true;
    }
}

void MatchDeviceNames(const DeviceNameList& deviceNames, DriverTable& table) {
    // The row's device name comes from the shared cache value and may lack its zero byte: it
    // is read as at most 8 characters, within its 9 bytes.
    char deviceName[sizeof(DriverItem::deviceName)];
    for (DWORD row = 0; row < table.Count(); ++row) {
        DriverItem& item = table.Row(row);
        if (item.active) continue;
        memcpy(deviceName, item.deviceName, sizeof(deviceName) - 1);
        deviceName[sizeof(deviceName) - 1] = '\0';
        if (deviceNames.FindDeviceName(deviceName) != DeviceNameList::kNotListed) item.active = true;
    }
}
