// The registrar script parser's registry on the platform: the advapi32 registry functions.
#pragma once

#include "registry_target.h"

class Win32RegistryTarget : public RegistryTarget {
public:
    long OpenKey(RegistryKey parent, const char* name, RegistryAccess access, RegistryKey* key) override;
    long CreateKey(RegistryKey parent, const char* name, RegistryKey* key) override;
    long CloseKey(RegistryKey key) override;
    long SetValue(RegistryKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) override;
    long DeleteValue(RegistryKey key, const char* name) override;
    long DeleteKey(RegistryKey parent, const char* name) override;
    long QueryKeyCounts(RegistryKey key, uint32_t* subKeys, uint32_t* values) override;
    long EnumFirstSubKey(RegistryKey key, char* name, uint32_t capacity) override;
    long EnumFirstValueName(RegistryKey key, char* name, uint32_t capacity) override;
};
