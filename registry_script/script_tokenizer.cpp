#include "script_tokenizer.h"

#include <string.h>

#include "script_code_page.h"

namespace {

// A quoted token may take another character while fewer bytes than this have been written;
// an unquoted one may grow to this plus one byte. Either way the terminator fits.
const size_t kQuotedTokenLimit = kScriptTokenBufferSize - 2;
const size_t kUnquotedTokenLimit = kScriptTokenBufferSize - 1;
const size_t kMaxName = kScriptNameBufferSize - 1;

bool IsWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}   // namespace

ScriptTokenizer::ScriptTokenizer(const ScriptCodePage& codePage) : codePage(codePage), cursor("") {
    token[0] = 0;
    valueName[0] = 0;
}

void ScriptTokenizer::Start(const char* text) {
    cursor = text;
    token[0] = 0;
}

void ScriptTokenizer::SkipWhitespace() {
    while (IsWhitespace(*cursor)) ++cursor;
}

ScriptResult ScriptTokenizer::Read() {
    token[0] = 0;
    SkipWhitespace();
    if (!*cursor) return kScriptException;
    size_t written = 0;
    if (*cursor == '\'') {
        ++cursor;
        for (;;) {
            if (!*cursor) {
                token[0] = 0;
                return kScriptException;
            }
            bool doubledQuote = *cursor == '\'' && cursor[1] == '\'';
            if (*cursor == '\'' && !doubledQuote) break;
            if (written >= kQuotedTokenLimit) {
                token[0] = 0;
                return kScriptException;
            }
            if (doubledQuote) {
                token[written++] = '\'';
                cursor += 2;
                continue;
            }
            size_t step = codePage.CharacterLength(cursor);
            memcpy(token + written, cursor, step);
            written += step;
            cursor += step;
        }
        token[written] = 0;
        ++cursor;
        return kScriptSucceeded;
    }
    while (*cursor && !IsWhitespace(*cursor)) {
        size_t step = codePage.CharacterLength(cursor);
        if (written + step > kUnquotedTokenLimit) {
            token[0] = 0;
            return kScriptException;
        }
        memcpy(token + written, cursor, step);
        written += step;
        cursor += step;
    }
    token[written] = 0;
    return kScriptSucceeded;
}

ScriptResult ScriptTokenizer::ReadValueName() {
    ScriptResult result = Read();
    if (result != kScriptSucceeded) return result;
    size_t length = strlen(token);
    if (length > kMaxName) return kScriptException;
    memcpy(valueName, token, length + 1);
    return kScriptSucceeded;
}

ScriptResult ScriptTokenizer::SkipValueClause() {
    if (token[0] != '=') return kScriptSucceeded;
    ScriptResult result = Read();   // the type, not looked at
    if (result == kScriptSucceeded) result = Read();
    if (result == kScriptSucceeded) result = Read();
    return result;
}

bool ScriptTokenizer::Is(const char* keyword) const {
    return codePage.CompareNoCase(token, keyword) == 0;
}

// The "\" is looked for character by character, so the second byte of a double-byte
// character is not taken for one.
ScriptResult ScriptTokenizer::CheckKeyName() const {
    if (!*token) return kScriptException;
    const char* walk = token;
    while (*walk) {
        if (*walk == '\\') return kScriptException;
        walk += codePage.CharacterLength(walk);
    }
    if (static_cast<size_t>(walk - token) > kMaxName) return kScriptException;
    return kScriptSucceeded;
}
