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
//
// The parser runs the script's root blocks; placeholder_substitution, script_tokenizer,
// register_walk, unregister_walk and value_writer hold the steps.
#pragma once

#include "registry_target.h"
#include "script_language.h"
#include "script_tokenizer.h"
#include "value_writer.h"

class ReplacementMap;
class ScriptCodePage;

class RegistryScriptParser {
public:
    RegistryScriptParser(RegistryTarget& target, const ReplacementMap& replacements, const ScriptCodePage& codePage);
    RegistryScriptParser(const RegistryScriptParser&) = delete;
    RegistryScriptParser& operator=(const RegistryScriptParser&) = delete;

    // Substitutes the placeholders of text (zero-terminated) and interprets the result to
    // register or unregister. The whole script is first walked without touching the registry,
    // so a script that is malformed anywhere fails before anything is changed; failures the
    // registry causes while registering take back the root block they happen in.
    ScriptResult ProcessScript(const char* text, bool registering);

private:
    ScriptResult WalkScript(RegistryTarget& registry, const char* text, bool registering);

    RegistryTarget& target;
    const ReplacementMap& replacements;
    const ScriptCodePage& codePage;
    ScriptTokenizer tokens;
    ValueWriter values;
};
