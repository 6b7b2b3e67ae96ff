#include "unregister_walk.h"

#include <string.h>

#include "key_tree.h"
#include "script_tokenizer.h"

UnregisterWalk::UnregisterWalk(RegistryTarget& target, ScriptTokenizer& tokens)
    : target(target), tokens(tokens), depth(0) {}

ScriptResult UnregisterWalk::Block(ScriptKey parent, bool recovery) {
    if (depth >= kMaxBlockDepth) return kScriptException;
    ++depth;
    // The key of the entry being unregistered, closed when the entry is done with it or the
    // next entry replaces it, and when the block ends.
    TargetKey currentKey(target);
    ScriptResult result = Entries(parent, recovery, currentKey);
    --depth;
    return result;
}

ScriptResult UnregisterWalk::Entries(ScriptKey parent, bool levelRecovery, TargetKey& currentKey) {
    bool deleteFlag = true;   // cleared by "NoRemove" for the rest of the block
    char keyName[kScriptNameBufferSize];
    ScriptResult result = tokens.Read();
    if (result != kScriptSucceeded) return result;
    while (!tokens.BeginsWith('}')) {
        // Neither word removes anything when unregistering; the entry is a key entry, read
        // token for token as registering reads it: after "Delete" comes the key name itself,
        // after "ForceRemove" the rest of an entry.
        bool deleteEntry = false;
        if (tokens.Is("ForceRemove") || tokens.Is("Delete")) {
            deleteEntry = tokens.Is("Delete");
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
        }
        if (!deleteEntry && tokens.Is("NoRemove")) {
            deleteFlag = false;
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
        }
        if (!deleteEntry && tokens.Is("val")) {
            result = tokens.ReadValueName();
            if (result == kScriptSucceeded) result = tokens.Read();
            if (result != kScriptSucceeded) return result;
            if (!tokens.BeginsWith('=')) return kScriptException;
            if (!levelRecovery) target.DeleteValue(parent, tokens.ValueName());
            result = tokens.SkipValueClause();
            if (result != kScriptSucceeded) return result;
            continue;
        }

        result = tokens.CheckKeyName();
        if (result != kScriptSucceeded) return result;
        memcpy(keyName, tokens.Token(), strlen(tokens.Token()) + 1);
        // Recovery mode for this entry when the block is in it or the key is missing: the
        // entry is parsed over, nothing is touched.
        bool recovery = levelRecovery;
        if (!recovery) {
            currentKey.reset();
            if (!currentKey.Opened(target.OpenKey(parent, keyName, RegistryAccess::kRead, currentKey.receive()) ==
                                   kRegistrySuccess)) {
                recovery = true;
            }
        }
        const ScriptKey key = currentKey.get();
        result = tokens.Read();
        if (result != kScriptSucceeded) return result;

        bool descend = false;
        if (!recovery && !HasSubKeys(target, key) && !HasNamedValues(target, key)) {
            // Nothing below the key that could be someone else's: it goes, and its value
            // clause and block are only parsed over.
            if (currentKey.Close() != kRegistrySuccess) return kScriptException;
            if (deleteFlag) target.DeleteKey(parent, keyName);
            recovery = true;
        } else if (!recovery) {
            descend = true;
        }

        result = tokens.SkipValueClause();
        if (result != kScriptSucceeded) return result;
        if (tokens.IsOpeningBrace()) {
            result = Block(descend ? key : kNoScriptKey, recovery);
            if (result != kScriptSucceeded) return result;
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
        }
        if (descend && !HasSubKeys(target, key)) {
            if (currentKey.Close() != kRegistrySuccess) return kScriptException;
            if (deleteFlag) target.DeleteKey(parent, keyName);
        }
        // A key that still has subkeys stays: they belong to someone else.
    }
    return kScriptSucceeded;
}
