#include "replacement_map.h"

#include "script_code_page.h"
#include "task_memory.h"

namespace {

const int32_t kSucceeded = 0;
const int32_t kOutOfMemory = static_cast<int32_t>(0x8007000Eu);
const size_t kFirstCapacity = 10;
// Names are compared in ANSI; a placeholder name has at most 31 bytes, so a longer name is
// never asked for.
const int kAnsiNameBufferSize = 260;

size_t WideLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

// A task-memory copy of text in which each single quote is written doubleQuotes times.
wchar_t* CopyWide(const wchar_t* text, bool doubleQuotes) {
    size_t length = WideLength(text);
    size_t quotes = 0;
    if (doubleQuotes) {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == L'\'') ++quotes;
        }
    }
    size_t total = length + quotes + 1;
    if (total > static_cast<size_t>(-1) / sizeof(wchar_t)) return nullptr;
    wchar_t* copy = static_cast<wchar_t*>(TaskMemAlloc(total * sizeof(wchar_t)));
    if (!copy) return nullptr;
    wchar_t* out = copy;
    for (size_t i = 0; i < length; ++i) {
        *out++ = text[i];
        if (doubleQuotes && text[i] == L'\'') *out++ = L'\'';
    }
    *out = 0;
    return copy;
}

}  // namespace

ReplacementMap::ReplacementMap() : pairs(nullptr), count(0), capacity(0) {}

ReplacementMap::~ReplacementMap() { Clear(); }

int32_t ReplacementMap::Add(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return kOutOfMemory;
    wchar_t* nameCopy = CopyWide(name, false);
    wchar_t* valueCopy = CopyWide(value, false);
    return Append(nameCopy, valueCopy);
}

int32_t ReplacementMap::AddQuoted(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return kOutOfMemory;
    wchar_t* nameCopy = CopyWide(name, false);
    wchar_t* valueCopy = CopyWide(value, true);
    return Append(nameCopy, valueCopy);
}

// Takes ownership of both copies, freeing them on failure.
int32_t ReplacementMap::Append(wchar_t* name, wchar_t* value) {
    Pair* pair = nullptr;
    if (name && value) pair = static_cast<Pair*>(TaskMemAlloc(sizeof(Pair)));
    if (pair && count == capacity) {
        size_t grown = capacity ? capacity * 2 : kFirstCapacity;
        Pair** larger = static_cast<Pair**>(TaskMemRealloc(pairs, grown * sizeof(Pair*)));
        if (larger) {
            pairs = larger;
            capacity = grown;
        } else {
            TaskMemFree(pair);
            pair = nullptr;
        }
    }
    if (!pair) {
        TaskMemFree(name);
        TaskMemFree(value);
        return kOutOfMemory;
    }
    pair->name = name;
    pair->value = value;
    pairs[count++] = pair;
    return kSucceeded;
}

const wchar_t* ReplacementMap::Find(const char* name, const ScriptCodePage& codePage) const {
    char ansiName[kAnsiNameBufferSize];
    for (size_t i = 0; i < count; ++i) {
        if (codePage.WideToAnsi(pairs[i]->name, ansiName, kAnsiNameBufferSize) == 0) continue;
        if (codePage.CompareNoCase(name, ansiName) == 0) return pairs[i]->value;
    }
    return nullptr;
}

void ReplacementMap::Clear() {
    for (size_t i = 0; i < count; ++i) {
        TaskMemFree(pairs[i]->name);
        TaskMemFree(pairs[i]->value);
        TaskMemFree(pairs[i]);
    }
    TaskMemFree(pairs);
    pairs = nullptr;
    count = 0;
    capacity = 0;
}
