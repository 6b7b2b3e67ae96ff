// What the registrar script parser needs of the system's ANSI code page, behind a small
// interface so that the parser also runs in the host build: stepping over one character (a
// double-byte character is two bytes), the case-insensitive comparison of names, the
// conversion of wide replacement values to ANSI, and the number conversion of "D" values.
#pragma once

#include <stddef.h>
#include <stdint.h>

class ScriptCodePage {
public:
    virtual ~ScriptCodePage() {}

    // CharNextA: the character after the one at text (text itself at the terminating zero).
    virtual const char* Next(const char* text) const = 0;
    // lstrcmpiA: 0 when the two names are equal apart from case.
    virtual int CompareNoCase(const char* left, const char* right) const = 0;
    // WideCharToMultiByte(CP_ACP) of the whole zero-terminated text into out (capacity bytes,
    // terminator included). Returns the bytes written with the terminator, or 0 when it does
    // not fit; with capacity 0 returns the bytes needed.
    virtual int WideToAnsi(const wchar_t* wide, char* out, int capacity) const = 0;
    // VarUI4FromStr on the text made wide (locale 0, no flags). Returns 0 with the number,
    // E_OUTOFMEMORY (0x8007000E), or another failure code when the text is not accepted.
    virtual int32_t ParseUnsigned(const char* text, uint32_t* value) const = 0;

    // The bytes of the character at text: 2 for a double-byte character, 1 otherwise, 0 at
    // the end. A lead byte directly before the terminator counts as one byte, so no step
    // passes the end of the text.
    size_t CharacterLength(const char* text) const {
        if (!*text) return 0;
        const char* next = Next(text);
        if (next == text + 2 && text[1] != 0) return 2;
        return 1;
    }
};
