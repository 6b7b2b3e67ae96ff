// The first step of interpreting a registrar script: "%%" becomes "%" and every "%name%" the
// ANSI text of its value in the replacement map ("%MODULE%", in any case, the module's path).
#pragma once

#include "script_language.h"
#include "task_memory.h"

class ReplacementMap;
class ScriptCodePage;

// On success *output holds the substituted text, zero-terminated; on failure it is empty.
// kScriptFailed for a name longer than kMaxPlaceholderName bytes, kScriptException for a name
// that the map does not hold or a "%" that is never closed, kScriptOutOfMemory.
ScriptResult SubstitutePlaceholders(const char* text, const ReplacementMap& replacements,
                                    const ScriptCodePage& codePage, TaskBuffer<char>* output);
