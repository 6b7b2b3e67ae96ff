// The registrar script parser's registry on the platform: the advapi32 registry functions.
#pragma once

#include "registry_target.h"

class Win32RegistryTarget : public RegistryTarget {
public:
    long OpenKey(ScriptKey parent, const char* name, RegistryAccess access, ScriptKey* key) override;
    long CreateKey(ScriptKey parent, const char* name, ScriptKey* key) override;
    long CloseKey(ScriptKey key) override;
    long SetValue(ScriptKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) override;
    long DeleteValue(ScriptKey key, const char* name) override;
    long DeleteKey(ScriptKey parent, const char* name) override;
    long QueryKeyCounts(ScriptKey key, uint32_t* subKeys, uint32_t* values) override;
    long EnumFirstSubKey(ScriptKey key, char* name, uint32_t capacity) override;
    long EnumFirstValueName(ScriptKey key, char* name, uint32_t capacity) override;
};
