// Registering one block of a registrar script: keys are opened (or created) and their values
// written; "ForceRemove" takes a key away with everything below it before it is created again,
// "Delete" takes it away for good; "NoRemove" matters only to unregistering.
#pragma once

#include "registry_target.h"
#include "script_language.h"

class ScriptCodePage;
class ScriptTokenizer;
class ValueWriter;

class RegisterWalk {
public:
    RegisterWalk(RegistryTarget& target, ScriptTokenizer& tokens, ValueWriter& values, const ScriptCodePage& codePage);
    RegisterWalk(const RegisterWalk&) = delete;
    RegisterWalk& operator=(const RegisterWalk&) = delete;

    // The current token is the block's "{"; on success it is the block's "}". Every key the
    // block opens is closed again, whatever the outcome.
    ScriptResult Block(ScriptKey parent);

private:
    ScriptResult Entries(ScriptKey parent, TargetKey& currentKey);

    RegistryTarget& target;
    ScriptTokenizer& tokens;
    ValueWriter& values;
    const ScriptCodePage& codePage;
    int depth;
};
