// The value clause of a registrar script entry, "= type value", written to a key:
//   S  REG_SZ     the text with its terminating zero
//   D  REG_DWORD  the text as an unsigned 32-bit number (VarUI4FromStr), 4 bytes
//   B  REG_BINARY two hexadecimal digits a byte, high nibble first
// Type letters match without regard to case.
#pragma once

#include <stdint.h>

#include "registry_target.h"
#include "script_language.h"

class ScriptCodePage;
class ScriptTokenizer;

class ValueWriter {
public:
    ValueWriter(ScriptTokenizer& tokens, const ScriptCodePage& codePage);
    ValueWriter(const ValueWriter&) = delete;
    ValueWriter& operator=(const ValueWriter&) = delete;

    // The current token is the clause's "=". Reads the type and the value, writes the value
    // (name null: the key's default value) and reads the token after the clause.
    // kScriptException for an unknown type, a "D" text that is not a number, or a value the
    // registry refuses to store (a registration without it would be reported as done: the
    // failure takes the root block back, as a key that cannot be created does);
    // kScriptFailed for a "B" text of odd length (nothing is written).
    ScriptResult Write(RegistryTarget& target, ScriptKey key, const char* name);

private:
    ScriptTokenizer& tokens;
    const ScriptCodePage& codePage;
    uint8_t binary[kScriptTokenBufferSize / 2];
};
