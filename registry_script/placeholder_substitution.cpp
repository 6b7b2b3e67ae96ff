#include "placeholder_substitution.h"

#include <string.h>

#include <utility>

#include "replacement_map.h"
#include "script_code_page.h"

namespace {

// The growing output: its capacity doubles whenever it is full before a byte is appended.
class SubstitutedText {
public:
    SubstitutedText() : used(0), capacity(0) {}

    bool Allocate(size_t size) {
        text = TaskBuffer<char>::Allocate(size);
        capacity = text ? size : 0;
        return text.valid();
    }
    bool Append(const char* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            if (used == capacity) {
                if (capacity > static_cast<size_t>(-1) / 2) return false;
                if (!text.Resize(capacity * 2)) return false;
                capacity *= 2;
            }
            text.get()[used++] = bytes[i];
        }
        return true;
    }
    TaskBuffer<char> Take() { return std::move(text); }

private:
    TaskBuffer<char> text;
    size_t used;
    size_t capacity;
};

}   // namespace

ScriptResult SubstitutePlaceholders(const char* text, const ReplacementMap& replacements,
                                    const ScriptCodePage& codePage, TaskBuffer<char>* output) {
    output->reset();
    size_t length = strlen(text);
    if (length > static_cast<size_t>(-1) / 4) return kScriptOutOfMemory;
    SubstitutedText out;
    if (!out.Allocate(length < 8 ? 16 : length * 2)) return kScriptOutOfMemory;

    const char* walk = text;
    while (*walk) {
        if (*walk != '%') {
            size_t step = codePage.CharacterLength(walk);
            if (!out.Append(walk, step)) return kScriptOutOfMemory;
            walk += step;
            continue;
        }
        if (walk[1] == '%') {
            if (!out.Append("%", 1)) return kScriptOutOfMemory;
            walk += 2;
            continue;
        }
        const char* nameStart = walk + 1;
        const char* nameEnd = nameStart;
        while (*nameEnd && *nameEnd != '%') nameEnd += codePage.CharacterLength(nameEnd);
        if (!*nameEnd) return kScriptException;
        size_t nameLength = static_cast<size_t>(nameEnd - nameStart);
        if (nameLength > kMaxPlaceholderName) return kScriptFailed;
        char name[kMaxPlaceholderName + 1];
        memcpy(name, nameStart, nameLength);
        name[nameLength] = 0;

        const wchar_t* value = replacements.Find(name, codePage);
        if (!value) return kScriptException;
        int needed = codePage.WideToAnsi(value, nullptr, 0);
        if (needed <= 0) return kScriptException;
        TaskBuffer<char> ansi = TaskBuffer<char>::Allocate(static_cast<size_t>(needed));
        if (!ansi) return kScriptOutOfMemory;
        int written = codePage.WideToAnsi(value, ansi.get(), needed);
        if (written <= 0) return kScriptException;
        if (!out.Append(ansi.get(), static_cast<size_t>(written) - 1)) return kScriptOutOfMemory;
        walk = nameEnd + 1;
    }
    if (!out.Append("", 1)) return kScriptOutOfMemory;
    *output = out.Take();
    return kScriptSucceeded;
}
