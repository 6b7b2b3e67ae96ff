#include "replacement_map.h"

#include <utility>

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

// A task-memory copy of text in which each single quote is written twice when doubleQuotes
// is set; empty when it cannot be allocated.
TaskBuffer<wchar_t> CopyWide(const wchar_t* text, bool doubleQuotes) {
    size_t length = WideLength(text);
    size_t quotes = 0;
    if (doubleQuotes) {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == L'\'') ++quotes;
        }
    }
    size_t total = length + quotes + 1;
    if (total > static_cast<size_t>(-1) / sizeof(wchar_t)) return TaskBuffer<wchar_t>();
    TaskBuffer<wchar_t> copy = TaskBuffer<wchar_t>::Allocate(total);
    if (!copy) return copy;
    wchar_t* out = copy.get();
    for (size_t i = 0; i < length; ++i) {
        *out++ = text[i];
        if (doubleQuotes && text[i] == L'\'') *out++ = L'\'';
    }
    *out = 0;
    return copy;
}

}   // namespace

ReplacementMap::ReplacementMap() : pairs(nullptr), count(0), capacity(0) {}

ReplacementMap::~ReplacementMap() {
    Clear();
}

int32_t ReplacementMap::Add(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return kOutOfMemory;
    TaskBuffer<wchar_t> nameCopy = CopyWide(name, false);
    TaskBuffer<wchar_t> valueCopy = CopyWide(value, false);
    return Append(std::move(nameCopy), std::move(valueCopy));
}

int32_t ReplacementMap::AddQuoted(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return kOutOfMemory;
    TaskBuffer<wchar_t> nameCopy = CopyWide(name, false);
    TaskBuffer<wchar_t> valueCopy = CopyWide(value, true);
    return Append(std::move(nameCopy), std::move(valueCopy));
}

int32_t ReplacementMap::Append(TaskBuffer<wchar_t> name, TaskBuffer<wchar_t> value) {
    if (!name || !value) return kOutOfMemory;
    TaskBuffer<Pair> pair = TaskBuffer<Pair>::Allocate(1);
    if (!pair) return kOutOfMemory;
    if (count == capacity) {
        size_t grown = capacity ? capacity * 2 : kFirstCapacity;
        Pair** larger = static_cast<Pair**>(TaskMemRealloc(pairs, grown * sizeof(Pair*)));
        if (!larger) return kOutOfMemory;
        pairs = larger;
        capacity = grown;
    }
    pair.get()->name = name.release();
    pair.get()->value = value.release();
    pairs[count++] = pair.release();
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

// The map owns its pairs and their copies: they go back to task memory here, and only here.
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
