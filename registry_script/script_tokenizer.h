// The tokens of a registrar script. A quoted token runs from a single quote to the next one
// that is not doubled (two single quotes inside stand for one); any other token runs up to
// the next whitespace (space, TAB, CR, LF) or the end of the text, so "=", "{" and "}" are
// tokens only when whitespace surrounds them. The text is stepped through whole characters
// of the script's code page, so the second byte of a double-byte character is never taken
// for a quote, a backslash or whitespace.
#pragma once

#include <stddef.h>

#include "script_language.h"

class ScriptCodePage;

class ScriptTokenizer {
public:
    explicit ScriptTokenizer(const ScriptCodePage& codePage);
    ScriptTokenizer(const ScriptTokenizer&) = delete;
    ScriptTokenizer& operator=(const ScriptTokenizer&) = delete;

    // Reads text (zero-terminated, kept by the caller) from its beginning.
    void Start(const char* text);
    const char* Position() const { return cursor; }
    void Rewind(const char* position) { cursor = position; }
    void SkipWhitespace();
    // After SkipWhitespace: nothing but the terminator is left.
    bool AtEnd() const { return *cursor == 0; }

    // The next token into Token(). At the end of the text, in an unclosed quote, or when the
    // token does not fit its buffer: kScriptException with an empty token.
    ScriptResult Read();
    // The next token into ValueName(); one that does not fit a name buffer is an error.
    ScriptResult ReadValueName();
    // When the current token begins with "=", reads the type (not looked at), the value and the
    // token after them; otherwise reads nothing.
    ScriptResult SkipValueClause();

    const char* Token() const { return token; }
    const char* ValueName() const { return valueName; }
    // The current token is keyword, apart from case.
    bool Is(const char* keyword) const;
    // Braces and "=" are recognised by a token's first character; a block opens only at a
    // token that is exactly "{".
    bool BeginsWith(char c) const { return token[0] == c; }
    bool IsOpeningBrace() const { return token[0] == '{' && token[1] == 0; }
    // The current token as a key entry's name: one level (no "\"), not empty (an empty name
    // would stand for the parent key itself), and no longer than a name buffer.
    ScriptResult CheckKeyName() const;

private:
    const ScriptCodePage& codePage;
    const char* cursor;
    char token[kScriptTokenBufferSize];
    char valueName[kScriptNameBufferSize];
};
