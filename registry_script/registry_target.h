// The registry as the registrar script parser sees it: a narrow interface with the calls the
// parser makes, so that the parser runs on the system registry in the product and on a
// registry held in memory in the host build's tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "owner_template.h"

// An open key, or one of the predefined root keys below. On the Win32 target it is the HKEY.
typedef uintptr_t ScriptKey;

const ScriptKey kNoScriptKey = 0;
// The predefined keys carry the platform's fixed handle values.
const ScriptKey kClassesRootKey = 0x80000000u;
const ScriptKey kCurrentUserKey = 0x80000001u;
const ScriptKey kLocalMachineKey = 0x80000002u;
const ScriptKey kUsersKey = 0x80000003u;
const ScriptKey kPerformanceDataKey = 0x80000004u;
const ScriptKey kCurrentConfigKey = 0x80000005u;
const ScriptKey kDynDataKey = 0x80000006u;

// Value types, with the platform's numbers.
const uint32_t kRegistryString = 1;   // REG_SZ
const uint32_t kRegistryBinary = 3;   // REG_BINARY
const uint32_t kRegistryDword = 4;    // REG_DWORD

// Platform error codes the parser and its targets speak of (0 is success).
const long kRegistrySuccess = 0;
const long kRegistryFileNotFound = 2;    // ERROR_FILE_NOT_FOUND: no such key or value
const long kRegistryAccessDenied = 5;    // ERROR_ACCESS_DENIED
const long kRegistryMoreData = 234;      // ERROR_MORE_DATA: the name does not fit the buffer
const long kRegistryNoMoreItems = 259;   // ERROR_NO_MORE_ITEMS
const long kRegistryBadKey = 1010;       // ERROR_BADKEY
const long kRegistryKeyDeleted = 1018;   // ERROR_KEY_DELETED

enum class RegistryAccess {
    kAll,         // KEY_ALL_ACCESS
    kRead,        // KEY_READ
    kReadWrite,   // KEY_READ | KEY_WRITE (0x2001F)
};

class RegistryTarget {
public:
    virtual ~RegistryTarget() {}

    // Each call answers like its Win32 counterpart: 0 for success, else a system error code.
    virtual long OpenKey(ScriptKey parent, const char* name, RegistryAccess access, ScriptKey* key) = 0;
    // RegCreateKeyExA: no class, non-volatile, KEY_ALL_ACCESS, default security.
    virtual long CreateKey(ScriptKey parent, const char* name, ScriptKey* key) = 0;
    virtual long CloseKey(ScriptKey key) = 0;
    // name null: the key's default value.
    virtual long SetValue(ScriptKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) = 0;
    virtual long DeleteValue(ScriptKey key, const char* name) = 0;
    // RegDeleteKeyA: on some systems it also removes the subtree, on others it refuses a key
    // that has subkeys; the parser empties a tree itself before deleting it.
    virtual long DeleteKey(ScriptKey parent, const char* name) = 0;
    // RegQueryInfoKeyA: the numbers of subkeys and of values (the default value included).
    virtual long QueryKeyCounts(ScriptKey key, uint32_t* subKeys, uint32_t* values) = 0;
    // RegEnumKeyExA and RegEnumValueA at index 0: the first subkey's name, the first value's
    // name, into a buffer of capacity bytes.
    virtual long EnumFirstSubKey(ScriptKey key, char* name, uint32_t capacity) = 0;
    virtual long EnumFirstValueName(ScriptKey key, char* name, uint32_t capacity) = 0;
};

// A key opened on a registry target, closed through that target exactly once: the runtime's
// owner template (owner_template.h, free of the platform like the parser's core), with traits
// that remember the target, since a key must go back to the target that opened it.
struct TargetKeyTraits {
    using Value = ScriptKey;
    explicit TargetKeyTraits(RegistryTarget& owner) : target(&owner) {}
    static ScriptKey Empty() { return kNoScriptKey; }
    // The target's answer is not looked at here; TargetKey::Close() gives it.
    void Close(ScriptKey key) const { target->CloseKey(key); }

    RegistryTarget* target;
};

class TargetKey : public Owner<TargetKeyTraits> {
public:
    // The traits are named from the global scope: inside the class their name is that of the
    // owner's private base.
    explicit TargetKey(RegistryTarget& target) : Owner(::TargetKeyTraits(target)) {}

    // Closes now and gives the target's answer, for the walk that fails on a refused close.
    long Close() {
        ScriptKey key = release();
        return key == kNoScriptKey ? kRegistrySuccess : traits().target->CloseKey(key);
    }
};
