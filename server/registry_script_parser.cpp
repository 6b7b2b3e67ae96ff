#include "registry_script_parser.h"

#include <string.h>

#include "replacement_map.h"
#include "script_code_page.h"
#include "task_memory.h"

namespace {

struct RootKeyName {
    const char* name;
    ScriptKey key;
};

// Searched in this order, case-insensitively.
const RootKeyName kRootKeys[] = {
    {"HKCR", kClassesRootKey},
    {"HKCU", kCurrentUserKey},
    {"HKLM", kLocalMachineKey},
    {"HKU", kUsersKey},
    {"HKPD", kPerformanceDataKey},
    {"HKDD", kDynDataKey},
    {"HKCC", kCurrentConfigKey},
    {"HKEY_CLASSES_ROOT", kClassesRootKey},
    {"HKEY_CURRENT_USER", kCurrentUserKey},
    {"HKEY_LOCAL_MACHINE", kLocalMachineKey},
    {"HKEY_USERS", kUsersKey},
    {"HKEY_PERFORMANCE_DATA", kPerformanceDataKey},
    {"HKEY_DYN_DATA", kDynDataKey},
    {"HKEY_CURRENT_CONFIG", kCurrentConfigKey},
};

// Keys that a forced removal never takes away with everything below them.
const char* const kNeverDeleted[] = {"CLSID", "TYPELIB"};

// A quoted token may take another character while fewer bytes than this have been written;
// an unquoted one may grow to this plus one byte. Either way the terminator fits.
const size_t kQuotedTokenLimit = RegistryScriptParser::kTokenBufferSize - 2;
const size_t kUnquotedTokenLimit = RegistryScriptParser::kTokenBufferSize - 1;
const size_t kMaxName = RegistryScriptParser::kNameBufferSize - 1;
// RegEnumKeyExA's name buffer in DeleteKeyTree, and RegEnumValueA's in the named-value test.
const uint32_t kSubKeyNameBufferSize = 256;
const uint32_t kValueNameProbeSize = 4096;

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// The registry of the first pass over a script: it writes nothing. Registering, every key
// opens; unregistering, none does, so every entry is parsed in recovery mode. Either way the
// pass reads the whole script as the real pass will.
class DryRunTarget : public RegistryTarget {
public:
    explicit DryRunTarget(bool registering) : registering(registering) {}

    long OpenKey(ScriptKey, const char*, RegistryAccess, ScriptKey* key) override {
        if (!registering) return kRegistryFileNotFound;
        *key = kDryKey;
        return kRegistrySuccess;
    }
    long CreateKey(ScriptKey, const char*, ScriptKey* key) override {
        *key = kDryKey;
        return kRegistrySuccess;
    }
    long CloseKey(ScriptKey) override { return kRegistrySuccess; }
    long SetValue(ScriptKey, const char*, uint32_t, const uint8_t*, uint32_t) override { return kRegistrySuccess; }
    long DeleteValue(ScriptKey, const char*) override { return kRegistrySuccess; }
    long DeleteKey(ScriptKey, const char*) override { return kRegistrySuccess; }
    long QueryKeyCounts(ScriptKey, uint32_t* subKeys, uint32_t* values) override {
        *subKeys = 0;
        *values = 0;
        return kRegistrySuccess;
    }
    long EnumFirstSubKey(ScriptKey, char*, uint32_t) override { return kRegistryNoMoreItems; }
    long EnumFirstValueName(ScriptKey, char*, uint32_t) override { return kRegistryNoMoreItems; }

private:
    static const ScriptKey kDryKey = 1;
    bool registering;
};

// The growing output of SubstitutePlaceholders.
class SubstitutedText {
public:
    SubstitutedText() : text(nullptr), used(0), capacity(0) {}
    ~SubstitutedText() { TaskMemFree(text); }

    bool Allocate(size_t size) {
        capacity = size;
        text = static_cast<char*>(TaskMemAlloc(capacity));
        return text != nullptr;
    }
    // Doubles the capacity whenever the text is full before a byte is appended.
    bool Append(const char* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            if (used == capacity) {
                if (capacity > static_cast<size_t>(-1) / 2) return false;
                char* larger = static_cast<char*>(TaskMemRealloc(text, capacity * 2));
                if (!larger) return false;
                text = larger;
                capacity *= 2;
            }
            text[used++] = bytes[i];
        }
        return true;
    }
    char* Release() {
        char* result = text;
        text = nullptr;
        return result;
    }

private:
    char* text;
    size_t used;
    size_t capacity;
};

}  // namespace

// What a block keeps while its entries are handled.
struct RegistryScriptParser::Level {
    ScriptKey currentKey;   // the key of the block's last key entry, if open
    bool deleteFlag;          // cleared by "NoRemove" for the rest of the block
    bool recovery;            // the block is parsed without touching the registry
    char keyName[kNameBufferSize];
};

RegistryScriptParser::RegistryScriptParser(RegistryTarget& target, const ReplacementMap& replacements,
                                           const ScriptCodePage& codePage)
    : target(&target), replacements(replacements), codePage(codePage), cursor(""), depth(0) {
    token[0] = 0;
    valueName[0] = 0;
}

ScriptResult RegistryScriptParser::ProcessScript(const char* text, bool registering) {
    char* substituted = nullptr;
    ScriptResult result = SubstitutePlaceholders(text, &substituted);
    if (result != kScriptSucceeded) return result;

    // First pass: the whole script, read as the real pass will read it, on a registry that
    // records nothing. A malformed script fails here, before any key is written or removed
    // (a failure halfway could not be taken back: the undoing pass would stop at the same
    // fault, above keys it had not yet reached).
    RegistryTarget* registry = target;
    DryRunTarget dryRun(registering);
    target = &dryRun;
    cursor = substituted;
    result = WalkScript(registering);
    target = registry;

    if (result == kScriptSucceeded) {
        cursor = substituted;
        result = WalkScript(registering);
    }
    cursor = "";
    TaskMemFree(substituted);
    return result;
}

ScriptResult RegistryScriptParser::WalkScript(bool registering) {
    // At least one root block: a text of whitespace alone, or none at all, is an error.
    do {
        ScriptResult result = ReadToken();
        if (result != kScriptSucceeded) return result;
        ScriptKey root = FindRootKey(token);
        if (root == kNoScriptKey) return kScriptException;
        result = ReadToken();
        if (result != kScriptSucceeded) return result;
        if (token[0] != '{') return kScriptException;

        if (registering) {
            const char* blockStart = cursor;
            result = ProcessBlock(root, true, false);
            if (result != kScriptSucceeded) {
                // Take back what this root block wrote; the root blocks before it stay.
                cursor = blockStart;
                ProcessBlock(root, false, false);
                return result;
            }
        } else {
            result = ProcessBlock(root, false, false);
            if (result != kScriptSucceeded) return result;
        }
        SkipWhitespace();
    } while (*cursor);
    return kScriptSucceeded;
}

ScriptResult RegistryScriptParser::SubstitutePlaceholders(const char* text, char** output) {
    *output = nullptr;
    size_t length = strlen(text);
    if (length > static_cast<size_t>(-1) / 4) return kScriptOutOfMemory;
    SubstitutedText out;
    if (!out.Allocate(length < 8 ? 16 : length * 2)) return kScriptOutOfMemory;

    const char* walk = text;
    while (*walk) {
        if (*walk != '%') {
            size_t step = CharacterLength(walk);
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
        while (*nameEnd && *nameEnd != '%') nameEnd += CharacterLength(nameEnd);
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
        char* ansi = static_cast<char*>(TaskMemAlloc(static_cast<size_t>(needed)));
        if (!ansi) return kScriptOutOfMemory;
        int written = codePage.WideToAnsi(value, ansi, needed);
        bool appended = written > 0 && out.Append(ansi, static_cast<size_t>(written) - 1);
        TaskMemFree(ansi);
        if (written <= 0) return kScriptException;
        if (!appended) return kScriptOutOfMemory;
        walk = nameEnd + 1;
    }
    if (!out.Append("", 1)) return kScriptOutOfMemory;
    *output = out.Release();
    return kScriptSucceeded;
}

ScriptResult RegistryScriptParser::ProcessBlock(ScriptKey parent, bool registering, bool recovery) {
    if (depth >= kMaxBlockDepth) return kScriptException;
    ++depth;
    Level level;
    level.currentKey = kNoScriptKey;
    level.deleteFlag = true;
    level.recovery = recovery;
    level.keyName[0] = 0;
    ScriptResult result = registering ? RegisterEntries(parent, level) : UnregisterEntries(parent, level);
    if (level.currentKey != kNoScriptKey) target->CloseKey(level.currentKey);
    --depth;
    return result;
}

// The block's entries up to its "}", registering. The current token is the block's "{".
ScriptResult RegistryScriptParser::RegisterEntries(ScriptKey parent, Level& level) {
    ScriptResult result = ReadToken();
    if (result != kScriptSucceeded) return result;
    while (token[0] != '}') {
        // Only a key entry may be followed by a block of its own.
        bool keyEntry = false;
        if (IsKeyword("ForceRemove") || IsKeyword("Delete")) {
            bool deleteEntry = IsKeyword("Delete");
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
            result = CheckKeyName(token);
            if (result != kScriptSucceeded) return result;
            if (!IsNeverDeleted(token)) DeleteKeyTree(parent, token, 0);
            if (deleteEntry) {
                result = ReadToken();
                if (result == kScriptSucceeded) result = SkipValueClause();
                if (result != kScriptSucceeded) return result;
                if (strcmp(token, "{") == 0) return kScriptException;
                continue;
            }
            // "ForceRemove": the name goes on as the entry's key name.
        }
        if (IsKeyword("NoRemove")) {
            level.deleteFlag = false;
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
        }
        if (IsKeyword("val")) {
            result = ReadValueName();
            if (result == kScriptSucceeded) result = ReadToken();
            if (result != kScriptSucceeded) return result;
            if (token[0] != '=') return kScriptException;
            result = WriteValue(parent, valueName);
            if (result != kScriptSucceeded) return result;
        } else {
            result = CheckKeyName(token);
            if (result != kScriptSucceeded) return result;
            ScriptKey key = kNoScriptKey;
            if (target->OpenKey(parent, token, RegistryAccess::kAll, &key) != kRegistrySuccess &&
                target->OpenKey(parent, token, RegistryAccess::kRead, &key) != kRegistrySuccess &&
                target->CreateKey(parent, token, &key) != kRegistrySuccess) {
                return kScriptException;
            }
            if (level.currentKey != kNoScriptKey) target->CloseKey(level.currentKey);
            level.currentKey = key;
            keyEntry = true;
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
            if (token[0] == '=') {
                result = WriteValue(level.currentKey, nullptr);
                if (result != kScriptSucceeded) return result;
            }
        }
        if (strcmp(token, "{") == 0) {
            if (!keyEntry) return kScriptException;
            result = ProcessBlock(level.currentKey, true, false);
            if (result == kScriptSucceeded) result = ReadToken();
            if (result != kScriptSucceeded) return result;
        }
    }
    return kScriptSucceeded;
}

// The block's entries up to its "}", unregistering. The current token is the block's "{".
ScriptResult RegistryScriptParser::UnregisterEntries(ScriptKey parent, Level& level) {
    ScriptResult result = ReadToken();
    if (result != kScriptSucceeded) return result;
    while (token[0] != '}') {
        // Neither word removes anything when unregistering; the entry is a key entry, read
        // token for token as registering reads it: after "Delete" comes the key name itself,
        // after "ForceRemove" the rest of an entry.
        bool deleteEntry = false;
        if (IsKeyword("ForceRemove") || IsKeyword("Delete")) {
            deleteEntry = IsKeyword("Delete");
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
        }
        if (!deleteEntry && IsKeyword("NoRemove")) {
            level.deleteFlag = false;
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
        }
        if (!deleteEntry && IsKeyword("val")) {
            result = ReadValueName();
            if (result == kScriptSucceeded) result = ReadToken();
            if (result != kScriptSucceeded) return result;
            if (token[0] != '=') return kScriptException;
            if (!level.recovery) target->DeleteValue(parent, valueName);
            result = SkipValueClause();
            if (result != kScriptSucceeded) return result;
            continue;
        }

        result = CheckKeyName(token);
        if (result != kScriptSucceeded) return result;
        memcpy(level.keyName, token, strlen(token) + 1);
        // Recovery mode for this entry when the block is in it or the key is missing: the
        // entry is parsed over, nothing is touched.
        bool recovery = level.recovery;
        ScriptKey key = kNoScriptKey;
        if (!recovery) {
            if (level.currentKey != kNoScriptKey) target->CloseKey(level.currentKey);
            level.currentKey = kNoScriptKey;
            if (target->OpenKey(parent, level.keyName, RegistryAccess::kRead, &key) == kRegistrySuccess) {
                level.currentKey = key;
            } else {
                recovery = true;
            }
        }
        result = ReadToken();
        if (result != kScriptSucceeded) return result;

        bool descend = false;
        if (!recovery && !HasSubKeys(key) && !HasNamedValues(key)) {
            // Nothing below the key that could be someone else's: it goes, and its value
            // clause and block are only parsed over.
            level.currentKey = kNoScriptKey;
            if (target->CloseKey(key) != kRegistrySuccess) return kScriptException;
            if (level.deleteFlag) target->DeleteKey(parent, level.keyName);
            recovery = true;
        } else if (!recovery) {
            descend = true;
        }

        result = SkipValueClause();
        if (result != kScriptSucceeded) return result;
        if (strcmp(token, "{") == 0) {
            result = ProcessBlock(descend ? key : kNoScriptKey, false, recovery);
            if (result != kScriptSucceeded) return result;
            result = ReadToken();
            if (result != kScriptSucceeded) return result;
        }
        if (descend && !HasSubKeys(key)) {
            level.currentKey = kNoScriptKey;
            if (target->CloseKey(key) != kRegistrySuccess) return kScriptException;
            if (level.deleteFlag) target->DeleteKey(parent, level.keyName);
        }
        // A key that still has subkeys stays: they belong to someone else.
    }
    return kScriptSucceeded;
}

ScriptResult RegistryScriptParser::ReadToken() {
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
            size_t step = CharacterLength(cursor);
            memcpy(token + written, cursor, step);
            written += step;
            cursor += step;
        }
        token[written] = 0;
        ++cursor;
        return kScriptSucceeded;
    }
    while (*cursor && !IsWhitespace(*cursor)) {
        size_t step = CharacterLength(cursor);
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

ScriptResult RegistryScriptParser::ReadValueName() {
    ScriptResult result = ReadToken();
    if (result != kScriptSucceeded) return result;
    size_t length = strlen(token);
    if (length > kMaxName) return kScriptException;
    memcpy(valueName, token, length + 1);
    return kScriptSucceeded;
}

ScriptResult RegistryScriptParser::SkipValueClause() {
    if (token[0] != '=') return kScriptSucceeded;
    ScriptResult result = ReadToken();  // the type, not looked at
    if (result == kScriptSucceeded) result = ReadToken();
    if (result == kScriptSucceeded) result = ReadToken();
    return result;
}

ScriptResult RegistryScriptParser::WriteValue(ScriptKey key, const char* name) {
    ScriptResult result = ReadToken();
    if (result != kScriptSucceeded) return result;
    char type = 0;
    if (codePage.CompareNoCase(token, "S") == 0) {
        type = 'S';
    } else if (codePage.CompareNoCase(token, "D") == 0) {
        type = 'D';
    } else if (codePage.CompareNoCase(token, "B") == 0) {
        type = 'B';
    } else {
        return kScriptException;
    }
    result = ReadToken();
    if (result != kScriptSucceeded) return result;

    // What the registry answers is not looked at: a write that the system refuses does not
    // fail the script.
    size_t length = strlen(token);
    if (type == 'S') {
        target->SetValue(key, name, kRegistryString, reinterpret_cast<const uint8_t*>(token),
                         static_cast<uint32_t>(length + 1));
    } else if (type == 'D') {
        uint32_t number = 0;
        int32_t converted = codePage.ParseUnsigned(token, &number);
        if (converted == kScriptOutOfMemory) return kScriptOutOfMemory;
        // A text the conversion refuses is an error, not some number.
        if (converted != 0) return kScriptException;
        uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        target->SetValue(key, name, kRegistryDword, bytes, 4);
    } else {
        if (length % 2 != 0) return kScriptFailed;
        // Two digits a byte, high nibble first; a character that is no hexadecimal digit
        // counts as 0.
        for (size_t i = 0; i < length / 2; ++i) {
            binary[i] = static_cast<uint8_t>(HexDigit(token[2 * i]) << 4 | HexDigit(token[2 * i + 1]));
        }
        target->SetValue(key, name, kRegistryBinary, binary, static_cast<uint32_t>(length / 2));
    }
    return ReadToken();
}

long RegistryScriptParser::DeleteKeyTree(ScriptKey parent, const char* name, int treeDepth) {
    if (treeDepth >= kMaxDeleteDepth) return kRegistryBadKey;
    ScriptKey key = kNoScriptKey;
    long error = target->OpenKey(parent, name, RegistryAccess::kReadWrite, &key);
    if (error != kRegistrySuccess) return error;
    // Some systems refuse to delete a key that has subkeys: empty the tree bottom-up.
    char subKey[kSubKeyNameBufferSize];
    for (;;) {
        error = target->EnumFirstSubKey(key, subKey, kSubKeyNameBufferSize);
        if (error == kRegistryNoMoreItems) break;
        if (error == kRegistrySuccess) error = DeleteKeyTree(key, subKey, treeDepth + 1);
        if (error != kRegistrySuccess) {
            target->CloseKey(key);
            return error;
        }
    }
    target->CloseKey(key);
    return target->DeleteKey(parent, name);
}

// A key entry names one level: not empty (an empty name would stand for the parent key
// itself), no "\" (looked for character by character, so the second byte of a double-byte
// character is not taken for one), and no longer than a name buffer.
ScriptResult RegistryScriptParser::CheckKeyName(const char* name) const {
    if (!*name) return kScriptException;
    const char* walk = name;
    while (*walk) {
        if (*walk == '\\') return kScriptException;
        walk += CharacterLength(walk);
    }
    if (static_cast<size_t>(walk - name) > kMaxName) return kScriptException;
    return kScriptSucceeded;
}

bool RegistryScriptParser::HasSubKeys(ScriptKey key) {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    // A key that cannot be asked counts as holding subkeys, so it is not removed.
    if (target->QueryKeyCounts(key, &subKeys, &values) != kRegistrySuccess) return true;
    return subKeys > 0;
}

// The unnamed default value alone does not count.
bool RegistryScriptParser::HasNamedValues(ScriptKey key) {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (target->QueryKeyCounts(key, &subKeys, &values) != kRegistrySuccess) return false;
    if (values >= 2) return true;
    if (values == 0) return false;
    char* name = static_cast<char*>(TaskMemAlloc(kValueNameProbeSize));
    if (!name) return true;
    long error = target->EnumFirstValueName(key, name, kValueNameProbeSize);
    // A name too long for the buffer is certainly not empty.
    bool named = error == kRegistryMoreData || (error == kRegistrySuccess && name[0] != 0);
    TaskMemFree(name);
    return named;
}

bool RegistryScriptParser::IsKeyword(const char* keyword) const {
    return codePage.CompareNoCase(token, keyword) == 0;
}

bool RegistryScriptParser::IsNeverDeleted(const char* name) const {
    for (const char* kept : kNeverDeleted) {
        if (codePage.CompareNoCase(name, kept) == 0) return true;
    }
    return false;
}

ScriptKey RegistryScriptParser::FindRootKey(const char* name) const {
    for (const RootKeyName& root : kRootKeys) {
        if (codePage.CompareNoCase(name, root.name) == 0) return root.key;
    }
    return kNoScriptKey;
}

// The bytes of the character at text: 2 for a double-byte character, 1 otherwise, 0 at the
// end. A lead byte directly before the terminator counts as one byte, so no step passes the
// end of the text.
size_t RegistryScriptParser::CharacterLength(const char* text) const {
    if (!*text) return 0;
    const char* next = codePage.Next(text);
    if (next == text + 2 && text[1] != 0) return 2;
    return 1;
}

void RegistryScriptParser::SkipWhitespace() {
    while (IsWhitespace(*cursor)) ++cursor;
}
