// The registrar script interpreter. A script names root keys and, in nested blocks, keys,
// default values and named values, with the modifiers "ForceRemove", "NoRemove" and
// "Delete":
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Drivers Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Registering creates what the script names; unregistering removes it bottom-up and leaves
// keys that still hold something the script does not name. The text is ANSI in the system
// code page and is stepped through whole characters.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "registry_target.h"

class ReplacementMap;
class ScriptCodePage;

// Results are HRESULT values.
typedef int32_t ScriptResult;
const ScriptResult kScriptSucceeded = 0;                                         // S_OK
const ScriptResult kScriptOutOfMemory = static_cast<ScriptResult>(0x8007000Eu);  // E_OUTOFMEMORY
const ScriptResult kScriptFailed = static_cast<ScriptResult>(0x80004005u);       // E_FAIL
const ScriptResult kScriptException = static_cast<ScriptResult>(0x80020009u);    // DISP_E_EXCEPTION

class RegistryScriptParser {
public:
    static const size_t kTokenBufferSize = 4096;
    static const size_t kNameBufferSize = 260;      // value names and key names
    static const size_t kMaxPlaceholderName = 31;
    // Blocks nest at most this deep (the root block is the first level); registry scripts
    // need a handful of levels, and a deeper script is refused before anything is written.
    static const int kMaxBlockDepth = 64;
    // DeleteKeyTree leaves a tree deeper than this alone and reports kRegistryBadKey.
    static const int kMaxDeleteDepth = 512;

    RegistryScriptParser(RegistryTarget& target, const ReplacementMap& replacements,
                         const ScriptCodePage& codePage);
    RegistryScriptParser(const RegistryScriptParser&) = delete;
    RegistryScriptParser& operator=(const RegistryScriptParser&) = delete;

    // Substitutes the placeholders of text (zero-terminated) and interprets the result to
    // register or unregister. The whole script is first walked without touching the registry,
    // so a script that is malformed anywhere fails before anything is changed; failures the
    // registry causes while registering take back the root block they happen in.
    ScriptResult ProcessScript(const char* text, bool registering);

    // text with "%%" made "%" and every "%name%" replaced by its value (ANSI). On success
    // *output is a task-memory copy that the caller frees with TaskMemFree; null otherwise.
    ScriptResult SubstitutePlaceholders(const char* text, char** output);

private:
    struct Level;

    ScriptResult WalkScript(bool registering);
    ScriptResult ProcessBlock(ScriptKey parent, bool registering, bool recovery);
    ScriptResult RegisterEntries(ScriptKey parent, Level& level);
    ScriptResult UnregisterEntries(ScriptKey parent, Level& level);
    ScriptResult ReadToken();
    ScriptResult ReadValueName();
    ScriptResult SkipValueClause();
    ScriptResult WriteValue(ScriptKey key, const char* valueName);
    long DeleteKeyTree(ScriptKey parent, const char* name, int depth);

    ScriptResult CheckKeyName(const char* name) const;
    bool HasSubKeys(ScriptKey key);
    bool HasNamedValues(ScriptKey key);
    bool IsKeyword(const char* keyword) const;
    bool IsNeverDeleted(const char* name) const;
    ScriptKey FindRootKey(const char* name) const;
    size_t CharacterLength(const char* text) const;
    void SkipWhitespace();

    RegistryTarget* target;
    const ReplacementMap& replacements;
    const ScriptCodePage& codePage;
    const char* cursor;
    int depth;
    char token[kTokenBufferSize];
    char valueName[kNameBufferSize];
    uint8_t binary[kTokenBufferSize / 2];
};
