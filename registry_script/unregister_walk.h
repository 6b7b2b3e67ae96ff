// Unregistering one block of a registrar script: what the script names is removed bottom-up,
// and a key that still holds subkeys the script does not name stays (they are someone else's).
// A key that is missing is parsed over in recovery mode, without touching the registry.
// "ForceRemove" and "Delete" remove nothing here; "NoRemove" keeps every later key entry of
// its block (their blocks are still unregistered).
#pragma once

#include "registry_target.h"
#include "script_language.h"

class ScriptTokenizer;

class UnregisterWalk {
public:
    UnregisterWalk(RegistryTarget& target, ScriptTokenizer& tokens);
    UnregisterWalk(const UnregisterWalk&) = delete;
    UnregisterWalk& operator=(const UnregisterWalk&) = delete;

    // The current token is the block's "{"; on success it is the block's "}". In recovery
    // mode the block is only parsed. Every key the block opens is closed again, whatever the
    // outcome; a close that the registry refuses stops the walk with kScriptException.
    ScriptResult Block(ScriptKey parent, bool recovery);

private:
    ScriptResult Entries(ScriptKey parent, bool recovery, TargetKey& currentKey);

    RegistryTarget& target;
    ScriptTokenizer& tokens;
    int depth;
};
