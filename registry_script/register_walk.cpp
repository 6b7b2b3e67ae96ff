#include "register_walk.h"

#include "key_tree.h"
#include "script_tokenizer.h"
#include "value_writer.h"

RegisterWalk::RegisterWalk(RegistryTarget& target, ScriptTokenizer& tokens, ValueWriter& values,
                           const ScriptCodePage& codePage)
    : target(target), tokens(tokens), values(values), codePage(codePage), depth(0) {}

ScriptResult RegisterWalk::Block(ScriptKey parent) {
    if (depth >= kMaxBlockDepth) return kScriptException;
    ++depth;
    // The key of the block's last key entry: closed when the next one replaces it and when
    // the block ends.
    TargetKey currentKey(target);
    ScriptResult result = Entries(parent, currentKey);
    --depth;
    return result;
}

ScriptResult RegisterWalk::Entries(ScriptKey parent, TargetKey& currentKey) {
    ScriptResult result = tokens.Read();
    if (result != kScriptSucceeded) return result;
    while (!tokens.BeginsWith('}')) {
        // Only a key entry may be followed by a block of its own.
        bool keyEntry = false;
        if (tokens.Is("ForceRemove") || tokens.Is("Delete")) {
            bool deleteEntry = tokens.Is("Delete");
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
            result = tokens.CheckKeyName();
            if (result != kScriptSucceeded) return result;
            if (!IsNeverDeleted(tokens.Token(), codePage)) DeleteKeyTree(target, parent, tokens.Token());
            if (deleteEntry) {
                result = tokens.Read();
                if (result == kScriptSucceeded) result = tokens.SkipValueClause();
                if (result != kScriptSucceeded) return result;
                if (tokens.IsOpeningBrace()) return kScriptException;
                continue;
            }
            // "ForceRemove": the name goes on as the entry's key name.
        }
        if (tokens.Is("NoRemove")) {
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
        }
        if (tokens.Is("val")) {
            result = tokens.ReadValueName();
            if (result == kScriptSucceeded) result = tokens.Read();
            if (result != kScriptSucceeded) return result;
            if (!tokens.BeginsWith('=')) return kScriptException;
            result = values.Write(target, parent, tokens.ValueName());
            if (result != kScriptSucceeded) return result;
        } else {
            result = tokens.CheckKeyName();
            if (result != kScriptSucceeded) return result;
            // Opened for all access, else for reading, else created.
            TargetKey key(target);
            const char* name = tokens.Token();
            if (!key.Opened(target.OpenKey(parent, name, RegistryAccess::kAll, key.receive()) == kRegistrySuccess) &&
                !key.Opened(target.OpenKey(parent, name, RegistryAccess::kRead, key.receive()) == kRegistrySuccess) &&
                !key.Opened(target.CreateKey(parent, name, key.receive()) == kRegistrySuccess)) {
                return kScriptException;
            }
            currentKey.reset(key.release());
            keyEntry = true;
            result = tokens.Read();
            if (result != kScriptSucceeded) return result;
            if (tokens.BeginsWith('=')) {
                result = values.Write(target, currentKey.get(), nullptr);
                if (result != kScriptSucceeded) return result;
            }
        }
        if (tokens.IsOpeningBrace()) {
            if (!keyEntry) return kScriptException;
            result = Block(currentKey.get());
            if (result == kScriptSucceeded) result = tokens.Read();
            if (result != kScriptSucceeded) return result;
        }
    }
    return kScriptSucceeded;
}
