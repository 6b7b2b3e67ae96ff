#include "value_writer.h"

#include <string.h>

#include "script_code_page.h"
#include "script_tokenizer.h"

namespace {

// A character that is no hexadecimal digit counts as 0.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

}   // namespace

ValueWriter::ValueWriter(ScriptTokenizer& tokens, const ScriptCodePage& codePage)
    : tokens(tokens), codePage(codePage) {}

ScriptResult ValueWriter::Write(RegistryTarget& target, ScriptKey key, const char* name) {
    ScriptResult result = tokens.Read();
    if (result != kScriptSucceeded) return result;
    char type = 0;
    if (tokens.Is("S")) {
        type = 'S';
    } else if (tokens.Is("D")) {
        type = 'D';
    } else if (tokens.Is("B")) {
        type = 'B';
    } else {
        return kScriptException;
    }
    result = tokens.Read();
    if (result != kScriptSucceeded) return result;

    const char* text = tokens.Token();
    size_t length = strlen(text);
    long written = kRegistrySuccess;
    if (type == 'S') {
        written = target.SetValue(key, name, kRegistryString, reinterpret_cast<const uint8_t*>(text),
                                  static_cast<uint32_t>(length + 1));
    } else if (type == 'D') {
        uint32_t number = 0;
        int32_t converted = codePage.ParseUnsigned(text, &number);
        if (converted == kScriptOutOfMemory) return kScriptOutOfMemory;
        // A text the conversion refuses is an error, not some number.
        if (converted != 0) return kScriptException;
        uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        written = target.SetValue(key, name, kRegistryDword, bytes, 4);
    } else {
        if (length % 2 != 0) return kScriptFailed;
        for (size_t i = 0; i < length / 2; ++i) {
            binary[i] = static_cast<uint8_t>(HexDigit(text[2 * i]) << 4 | HexDigit(text[2 * i + 1]));
        }
        written = target.SetValue(key, name, kRegistryBinary, binary, static_cast<uint32_t>(length / 2));
    }
    if (written != kRegistrySuccess) return kScriptException;
    return tokens.Read();
}
