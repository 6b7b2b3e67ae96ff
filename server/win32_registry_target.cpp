#include "win32_registry_target.h"

#include <windows.h>

namespace {

HKEY AsHandle(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

REGSAM AccessMask(RegistryAccess access) {
    switch (access) {
    case RegistryAccess::kAll:
        return KEY_ALL_ACCESS;
    case RegistryAccess::kRead:
        return KEY_READ;
    case RegistryAccess::kReadWrite:
        break;
    }
    return KEY_READ | KEY_WRITE;
}

}  // namespace

long Win32RegistryTarget::OpenKey(RegistryKey parent, const char* name, RegistryAccess access, RegistryKey* key) {
    HKEY opened = nullptr;
    LONG error = RegOpenKeyExA(AsHandle(parent), name, 0, AccessMask(access), &opened);
    if (error == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
    return error;
}

long Win32RegistryTarget::CreateKey(RegistryKey parent, const char* name, RegistryKey* key) {
    HKEY created = nullptr;
    DWORD disposition = 0;
    LONG error = RegCreateKeyExA(AsHandle(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &created, &disposition);
    if (error == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(created);
    return error;
}

long Win32RegistryTarget::CloseKey(RegistryKey key) { return RegCloseKey(AsHandle(key)); }

long Win32RegistryTarget::SetValue(RegistryKey key, const char* name, uint32_t type, const uint8_t* data,
                                   uint32_t size) {
    return RegSetValueExA(AsHandle(key), name, 0, type, data, size);
}

long Win32RegistryTarget::DeleteValue(RegistryKey key, const char* name) {
    return RegDeleteValueA(AsHandle(key), name);
}

long Win32RegistryTarget::DeleteKey(RegistryKey parent, const char* name) {
    return RegDeleteKeyA(AsHandle(parent), name);
}

long Win32RegistryTarget::QueryKeyCounts(RegistryKey key, uint32_t* subKeys, uint32_t* values) {
    DWORD subKeyCount = 0;
    DWORD valueCount = 0;
    LONG error = RegQueryInfoKeyA(AsHandle(key), nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr,
                                  &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_SUCCESS) {
        *subKeys = subKeyCount;
        *values = valueCount;
    }
    return error;
}

long Win32RegistryTarget::EnumFirstSubKey(RegistryKey key, char* name, uint32_t capacity) {
    DWORD size = capacity;
    FILETIME written;
    return RegEnumKeyExA(AsHandle(key), 0, name, &size, nullptr, nullptr, nullptr, &written);
}

long Win32RegistryTarget::EnumFirstValueName(RegistryKey key, char* name, uint32_t capacity) {
    DWORD size = capacity;
    return RegEnumValueA(AsHandle(key), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
}
