#include "win32_registry_target.h"

#include <windows.h>

#include "owner.h"

namespace {

HKEY AsHandle(ScriptKey key) {
    return reinterpret_cast<HKEY>(key);
}

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

// Hands an opened key over to the parser, whose TargetKey closes it through CloseKey; a failed
// open hands over nothing, whatever it left in the out-parameter.
long HandOver(LONG error, RegistryKey& opened, ScriptKey* key) {
    if (opened.Opened(error == ERROR_SUCCESS)) *key = reinterpret_cast<ScriptKey>(opened.release());
    return error;
}

}   // namespace

long Win32RegistryTarget::OpenKey(ScriptKey parent, const char* name, RegistryAccess access, ScriptKey* key) {
    RegistryKey opened;
    return HandOver(RegOpenKeyExA(AsHandle(parent), name, 0, AccessMask(access), opened.receive()), opened, key);
}

long Win32RegistryTarget::CreateKey(ScriptKey parent, const char* name, ScriptKey* key) {
    RegistryKey created;
    DWORD disposition = 0;
    return HandOver(RegCreateKeyExA(AsHandle(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, created.receive(), &disposition),
                    created, key);
}

// Closed here rather than through a RegistryKey: the walk that unregisters hears whether the
// close succeeded.
long Win32RegistryTarget::CloseKey(ScriptKey key) {
    return RegCloseKey(AsHandle(key));
}

long Win32RegistryTarget::SetValue(ScriptKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
    return RegSetValueExA(AsHandle(key), name, 0, type, data, size);
}

long Win32RegistryTarget::DeleteValue(ScriptKey key, const char* name) {
    return RegDeleteValueA(AsHandle(key), name);
}

long Win32RegistryTarget::DeleteKey(ScriptKey parent, const char* name) {
    return RegDeleteKeyA(AsHandle(parent), name);
}

long Win32RegistryTarget::QueryKeyCounts(ScriptKey key, uint32_t* subKeys, uint32_t* values) {
    DWORD subKeyCount = 0;
    DWORD valueCount = 0;
    LONG error = RegQueryInfoKeyA(AsHandle(key), nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr, &valueCount,
                                  nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_SUCCESS) {
        *subKeys = subKeyCount;
        *values = valueCount;
    }
    return error;
}

long Win32RegistryTarget::EnumFirstSubKey(ScriptKey key, char* name, uint32_t capacity) {
    DWORD size = capacity;
    FILETIME written;
    return RegEnumKeyExA(AsHandle(key), 0, name, &size, nullptr, nullptr, nullptr, &written);
}

long Win32RegistryTarget::EnumFirstValueName(ScriptKey key, char* name, uint32_t capacity) {
    DWORD size = capacity;
    return RegEnumValueA(AsHandle(key), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
}
