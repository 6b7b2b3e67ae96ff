#include "key_tree.h"

#include "script_code_page.h"
#include "script_language.h"
#include "task_memory.h"

namespace {

const char* const kNeverDeleted[] = {"CLSID", "TYPELIB"};
// RegEnumKeyExA's name buffer in DeleteKeyTree, and RegEnumValueA's in the named-value test.
const uint32_t kSubKeyNameBufferSize = 256;
const uint32_t kValueNameProbeSize = 4096;

long DeleteKeyTreeAt(RegistryTarget& target, ScriptKey parent, const char* name, int depth) {
    if (depth >= kMaxDeleteDepth) return kRegistryBadKey;
    TargetKey key(target);
    long error = target.OpenKey(parent, name, RegistryAccess::kReadWrite, key.receive());
    if (!key.Opened(error == kRegistrySuccess)) return error;
    char subKey[kSubKeyNameBufferSize];
    for (;;) {
        error = target.EnumFirstSubKey(key.get(), subKey, kSubKeyNameBufferSize);
        if (error == kRegistryNoMoreItems) break;
        if (error == kRegistrySuccess) error = DeleteKeyTreeAt(target, key.get(), subKey, depth + 1);
        if (error != kRegistrySuccess) return error;
    }
    key.reset();
    return target.DeleteKey(parent, name);
}

}   // namespace

bool IsNeverDeleted(const char* name, const ScriptCodePage& codePage) {
    for (const char* kept : kNeverDeleted) {
        if (codePage.CompareNoCase(name, kept) == 0) return true;
    }
    return false;
}

long DeleteKeyTree(RegistryTarget& target, ScriptKey parent, const char* name) {
    return DeleteKeyTreeAt(target, parent, name, 0);
}

bool HasSubKeys(RegistryTarget& target, ScriptKey key) {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (target.QueryKeyCounts(key, &subKeys, &values) != kRegistrySuccess) return true;
    return subKeys > 0;
}

bool HasNamedValues(RegistryTarget& target, ScriptKey key) {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (target.QueryKeyCounts(key, &subKeys, &values) != kRegistrySuccess) return false;
    if (values >= 2) return true;
    if (values == 0) return false;
    TaskBuffer<char> name = TaskBuffer<char>::Allocate(kValueNameProbeSize);
    if (!name) return true;
    long error = target.EnumFirstValueName(key, name.get(), kValueNameProbeSize);
    // A name too long for the buffer is certainly not empty.
    return error == kRegistryMoreData || (error == kRegistrySuccess && name.get()[0] != 0);
}
