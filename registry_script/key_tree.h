// What the two walks ask of the registry beyond single calls: removing a key with everything
// below it, and whether a key still holds something that the script may not know about.
#pragma once

#include "registry_target.h"

class ScriptCodePage;

// "CLSID" and "TYPELIB" (any case): keys that a forced removal never takes away with
// everything below them.
bool IsNeverDeleted(const char* name, const ScriptCodePage& codePage);

// Removes parent\name with its whole subtree, bottom-up (some systems refuse to delete a key
// that has subkeys). Returns the first failure, or the answer of the final DeleteKey. A tree is
// not followed deeper than kMaxDeleteDepth levels: the removal stops there with
// kRegistryBadKey.
long DeleteKeyTree(RegistryTarget& target, ScriptKey parent, const char* name);

// At least one subkey. A key that cannot be asked counts as holding subkeys, so it is not
// removed.
bool HasSubKeys(RegistryTarget& target, ScriptKey key);
// Two values or more, or one that has a name: the unnamed default value alone does not count.
bool HasNamedValues(RegistryTarget& target, ScriptKey key);
