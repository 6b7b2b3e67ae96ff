// The replacements of a registrar script's placeholders: ordered (name, value) pairs of wide
// strings, each pair holding task-memory copies of both. Looked up by name, case-insensitively
// in the ANSI code page; the first pair of a name wins.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "task_memory.h"

class ScriptCodePage;

class ReplacementMap {
public:
    ReplacementMap();
    ~ReplacementMap();
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    // Appends a pair holding copies of name and value. 0 (S_OK), or E_OUTOFMEMORY with the
    // map unchanged.
    int32_t Add(const wchar_t* name, const wchar_t* value);
    // Appends (name, value with every single quote doubled), for a value that the script
    // places inside a quoted token, where two single quotes stand for one.
    int32_t AddQuoted(const wchar_t* name, const wchar_t* value);
    // The value of the first pair whose name, converted to ANSI, equals name apart from case;
    // null when there is none.
    const wchar_t* Find(const char* name, const ScriptCodePage& codePage) const;
    // Frees every copy and pair, then the array.
    void Clear();

    size_t Count() const { return count; }

private:
    struct Pair {
        wchar_t* name;
        wchar_t* value;
    };

    // Takes both copies; they are freed when the pair cannot be added.
    int32_t Append(TaskBuffer<wchar_t> name, TaskBuffer<wchar_t> value);

    Pair** pairs;
    size_t count;
    size_t capacity;
};
