// Plug-and-play registry scan: follows every device node of the configuration manager's live
// tree to the driver files its class key lists, and marks those rows active.
//
//   HKEY_DYN_DATA "Config Manager\Enum\<node>"                 value "HardWareKey"
//   HKEY_LOCAL_MACHINE "Enum\<hardware key>"                   value "Driver"
//   HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\<driver>"
//        first present of "Driver", "DeviceVxDs", "PortDriver", "MTD", "MouseDriver":
//        a comma-separated list of file names
//
// Everything read is outside the library's control and may change while the scan runs: a
// stage that fails for one node (key gone, value missing, too long for its buffer) drops that
// node alone and the scan goes on with the next.
#include "driver_inventory.h"

#include "device_tree_text.h"
#include "registry_key.h"

namespace {

const char kDeviceTreeKey[] = "Config Manager\\Enum";
const char kHardwareKeyValue[] = "HardWareKey";
const char kEnumKey[] = "Enum";
const char kDriverValue[] = "Driver";
const char kClassKey[] = "System\\CurrentControlSet\\Services\\Class";
const char* const kDriverListValues[] = {"Driver", "DeviceVxDs", "PortDriver", "MTD", "MouseDriver"};

const DWORD kNameBufferSize = 1024;
const DWORD kValueBufferSize = 1024;
const DWORD kPathBufferSize = 1024;

// Every key is opened with full access (KEY_ALL_ACCESS), although the scan only reads.
bool OpenKey(HKEY parent, const char* path, RegistryKey& key) {
    return key.Opened(RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, key.receive()));
}

// Reads a value into the 1024-byte value buffer as a string, whatever type the registry
// reports for it. Data that does not fit, with or without its terminator, counts as absent.
bool ReadStringValue(HKEY key, const char* name, char* buffer) {
    DWORD length = kValueBufferSize;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &length) !=
        ERROR_SUCCESS) {
        return false;
    }
    return device_tree_text::TerminateValueString(buffer, kValueBufferSize, length) != 0;
}

}  // namespace

void DriverInventory::ScanDeviceTree() {
    RegistryKey tree;
    if (!OpenKey(HKEY_DYN_DATA, kDeviceTreeKey, tree)) return;

    char name[kNameBufferSize];
    char value[kValueBufferSize];
    char path[kPathBufferSize];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kNameBufferSize;
        if (RegEnumKeyExA(tree.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        RegistryKey node;
        if (!OpenKey(tree.get(), name, node)) continue;
        if (!ReadStringValue(node.get(), kHardwareKeyValue, value)) continue;

        RegistryKey hardware;
        if (!device_tree_text::JoinKeyPath(path, kPathBufferSize, kEnumKey, value)) continue;
        if (!OpenKey(HKEY_LOCAL_MACHINE, path, hardware)) continue;
        if (!ReadStringValue(hardware.get(), kDriverValue, value)) continue;

        RegistryKey driverClass;
        if (!device_tree_text::JoinKeyPath(path, kPathBufferSize, kClassKey, value)) continue;
        if (!OpenKey(HKEY_LOCAL_MACHINE, path, driverClass)) continue;

        // Only the first of the five values that can be read counts, even when later ones
        // exist too.
        bool listed = false;
        for (const char* listValue : kDriverListValues) {
            if (ReadStringValue(driverClass.get(), listValue, value)) {
                listed = true;
                break;
            }
        }
        if (listed) MarkListedFiles(value);
    }
}

void DriverInventory::MarkListedFiles(const char* list) {
    device_tree_text::ForEachListedName(
        list,
        [](const char* name, void* context) {
            DriverInventory* inventory = static_cast<DriverInventory*>(context);
            DWORD row = inventory->FindItemByFileName(name);
            if (row) inventory->items_[row - 1].active = 1;
        },
        this);
}

DWORD DriverInventory::FindItemByFileName(const char* name) const {
    for (DWORD i = 0; i < itemCount_; ++i) {
        if (lstrcmpiA(items_[i].fileName, name) == 0) return i + 1;
    }
    return 0;
}
