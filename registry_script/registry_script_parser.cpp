#include "registry_script_parser.h"

#include "placeholder_substitution.h"
#include "register_walk.h"
#include "script_code_page.h"
#include "task_memory.h"
#include "unregister_walk.h"

namespace {

struct RootKeyName {
    const char* name;
    ScriptKey key;
};

// Searched in this order, case-insensitively.
const RootKeyName kRootKeys[] = {
    {"HKCR", kClassesRootKey},
    {"HKCU", kCurrentUserKey},
    {"HKLM", kLocalMachineKey},
    {"HKU", kUsersKey},
    {"HKPD", kPerformanceDataKey},
    {"HKDD", kDynDataKey},
    {"HKCC", kCurrentConfigKey},
    {"HKEY_CLASSES_ROOT", kClassesRootKey},
    {"HKEY_CURRENT_USER", kCurrentUserKey},
    {"HKEY_LOCAL_MACHINE", kLocalMachineKey},
    {"HKEY_USERS", kUsersKey},
    {"HKEY_PERFORMANCE_DATA", kPerformanceDataKey},
    {"HKEY_DYN_DATA", kDynDataKey},
    {"HKEY_CURRENT_CONFIG", kCurrentConfigKey},
};

ScriptKey FindRootKey(const char* name, const ScriptCodePage& codePage) {
    for (const RootKeyName& root : kRootKeys) {
        if (codePage.CompareNoCase(name, root.name) == 0) return root.key;
    }
    return kNoScriptKey;
}

// The registry of the first pass over a script: it writes nothing. Registering, every key
// opens; unregistering, none does, so every entry is parsed in recovery mode. Either way the
// pass reads the whole script as the real pass will.
class DryRunTarget : public RegistryTarget {
public:
    explicit DryRunTarget(bool registering) : registering(registering) {}

    long OpenKey(ScriptKey, const char*, RegistryAccess, ScriptKey* key) override {
        if (!registering) return kRegistryFileNotFound;
        *key = kDryKey;
        return kRegistrySuccess;
    }
    long CreateKey(ScriptKey, const char*, ScriptKey* key) override {
        *key = kDryKey;
        return kRegistrySuccess;
    }
    long CloseKey(ScriptKey) override { return kRegistrySuccess; }
    long SetValue(ScriptKey, const char*, uint32_t, const uint8_t*, uint32_t) override { return kRegistrySuccess; }
    long DeleteValue(ScriptKey, const char*) override { return kRegistrySuccess; }
    long DeleteKey(ScriptKey, const char*) override { return kRegistrySuccess; }
    long QueryKeyCounts(ScriptKey, uint32_t* subKeys, uint32_t* values) override {
        *subKeys = 0;
        *values = 0;
        return kRegistrySuccess;
    }
    long EnumFirstSubKey(ScriptKey, char*, uint32_t) override { return kRegistryNoMoreItems; }
    long EnumFirstValueName(ScriptKey, char*, uint32_t) override { return kRegistryNoMoreItems; }

private:
    static const ScriptKey kDryKey = 1;
    bool registering;
};

}   // namespace

RegistryScriptParser::RegistryScriptParser(RegistryTarget& target, const ReplacementMap& replacements,
                                           const ScriptCodePage& codePage)
    : target(target), replacements(replacements), codePage(codePage), tokens(codePage), values(tokens, codePage) {}

ScriptResult RegistryScriptParser::ProcessScript(const char* text, bool registering) {
    TaskBuffer<char> substituted;
    ScriptResult result = SubstitutePlaceholders(text, replacements, codePage, &substituted);
    if (result != kScriptSucceeded) return result;

    // First pass: the whole script, read as the real pass will read it, on a registry that
    // records nothing. A malformed script fails here, before any key is written or removed
    // (a failure halfway could not be taken back: the undoing pass would stop at the same
    // fault, above keys it had not yet reached).
    DryRunTarget dryRun(registering);
    result = WalkScript(dryRun, substituted.get(), registering);
    if (result == kScriptSucceeded) result = WalkScript(target, substituted.get(), registering);
    tokens.Start("");
    return result;
}

ScriptResult RegistryScriptParser::WalkScript(RegistryTarget& registry, const char* text, bool registering) {
    tokens.Start(text);
    RegisterWalk registerWalk(registry, tokens, values, codePage);
    UnregisterWalk unregisterWalk(registry, tokens);
    // At least one root block: a text of whitespace alone, or none at all, is an error.
    do {
        ScriptResult result = tokens.Read();
        if (result != kScriptSucceeded) return result;
        ScriptKey root = FindRootKey(tokens.Token(), codePage);
        if (root == kNoScriptKey) return kScriptException;
        result = tokens.Read();
        if (result != kScriptSucceeded) return result;
        if (!tokens.BeginsWith('{')) return kScriptException;

        if (registering) {
            const char* blockStart = tokens.Position();
            result = registerWalk.Block(root);
            if (result != kScriptSucceeded) {
                // Take back what this root block wrote; the root blocks before it stay.
                tokens.Rewind(blockStart);
                unregisterWalk.Block(root, false);
                return result;
            }
        } else {
            result = unregisterWalk.Block(root, false);
            if (result != kScriptSucceeded) return result;
        }
        tokens.SkipWhitespace();
    } while (!tokens.AtEnd());
    return kScriptSucceeded;
}
