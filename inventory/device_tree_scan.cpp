// Everything read is outside the library's control and may change while the scan runs: a
// stage that fails for one node (key gone, value missing, too long for its buffer) drops that
// node alone and the scan goes on with the next.
#include "device_tree_scan.h"

#include "device_tree_text.h"
#include "owner.h"

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
    return key.Opened(RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, key.receive()) == ERROR_SUCCESS);
}

// Reads a value into the 1024-byte value buffer as a string, whatever type the registry
// reports for it. Data that does not fit, with or without its terminator, counts as absent.
bool ReadStringValue(HKEY key, const char* name, char* buffer) {
    DWORD length = kValueBufferSize;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &length) != ERROR_SUCCESS) {
        return false;
    }
    return device_tree_text::TerminateValueString(buffer, kValueBufferSize, length) != 0;
}

// Follows one device node to its class key and reads the file list there: the first of the
// five values that can be read, even when later ones exist too.
bool ReadNodeFileList(HKEY tree, const char* node, char* list) {
    char path[kPathBufferSize];
    RegistryKey nodeKey;
    if (!OpenKey(tree, node, nodeKey)) return false;
    if (!ReadStringValue(nodeKey.get(), kHardwareKeyValue, list)) return false;

    RegistryKey hardware;
    if (!device_tree_text::JoinKeyPath(path, kPathBufferSize, kEnumKey, list)) return false;
    if (!OpenKey(HKEY_LOCAL_MACHINE, path, hardware)) return false;
    if (!ReadStringValue(hardware.get(), kDriverValue, list)) return false;

    RegistryKey driverClass;
    if (!device_tree_text::JoinKeyPath(path, kPathBufferSize, kClassKey, list)) return false;
    if (!OpenKey(HKEY_LOCAL_MACHINE, path, driverClass)) return false;
    for (const char* listValue : kDriverListValues) {
        if (ReadStringValue(driverClass.get(), listValue, list)) return true;
    }
    return false;
}

// Marks, for every piece of a comma-separated list taken exactly as it stands (blanks kept),
// the first row whose file name equals the piece without regard to case.
void MarkListedFiles(const char* list, DriverTable& table) {
    device_tree_text::ForEachListedName(
        list,
        [](const char* name, void* context) {
            DriverTable& rows = *static_cast<DriverTable*>(context);
            const DWORD row = rows.FindItemByFileName(name);
            if (row != DriverTable::kNoRow) rows.Row(row).active = true;
        },
        &table);
}

}   // namespace

void ScanDeviceTree(DriverTable& table) {
    RegistryKey tree;
    if (!OpenKey(HKEY_DYN_DATA, kDeviceTreeKey, tree)) return;

    char node[kNameBufferSize];
    char list[kValueBufferSize];
    for (DWORD index = 0;; ++index) {
        DWORD nodeLength = kNameBufferSize;
        if (RegEnumKeyExA(tree.get(), index, node, &nodeLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (ReadNodeFileList(tree.get(), node, list)) MarkListedFiles(list, table);
    }
}
