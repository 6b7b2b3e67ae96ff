// Applying a registrar script resource of the module: "%MODULE%" becomes the module's path and
// the script is interpreted to register (create keys, set values, force-remove stale keys) or
// to unregister (remove what the script names, leaving keys that others still use).
#pragma once

#include <windows.h>

#include "replacement_map.h"

// One extra replacement for a script's placeholders; a list of them ends with a null name.
struct ScriptReplacement {
    const wchar_t* name;
    const wchar_t* value;
};

// Loads resource "REGISTRY" resourceId from the module file of ServerModule::Current(),
// replaces "%MODULE%" (any case) by the module's path and the extra placeholders by their
// values, and registers or unregisters what the script describes. The module path is made
// fit for a quoted token (its single quotes doubled); extra values are placed as they are. S_OK, or the failure of
// the load (HRESULT_FROM_WIN32), E_OUTOFMEMORY, E_FAIL or DISP_E_EXCEPTION.
HRESULT ApplyRegistryScript(UINT resourceId, BOOL registering, const ScriptReplacement* extra = nullptr);

// Interprets resource (id, type) of the file modulePath, loaded as a data file, with the given
// replacements. ApplyRegistryScript runs its module's script through this.
HRESULT RunScriptResource(const char* modulePath, UINT resourceId, const char* type, BOOL registering,
                          const ReplacementMap& replacements);
