#include "apply_registry_script.h"

#include <string.h>

#include "owner.h"
#include "registry_script_parser.h"
#include "server_module.h"
#include "win32_registry_target.h"
#include "win32_script_code_page.h"

namespace {

const DWORD kModulePathBufferSize = 260;

// HRESULT_FROM_WIN32 of the last error. A call that failed without setting one still fails.
HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    if (error == 0) return E_FAIL;
    return HRESULT_FROM_WIN32(error);
}

}   // namespace

HRESULT ApplyRegistryScript(UINT resourceId, BOOL registering, const ScriptReplacement* extra) {
    ReplacementMap replacements;
    ServerModule* module = ServerModule::Current();
    if (!module) return E_UNEXPECTED;

    char path[kModulePathBufferSize];
    SetLastError(0);
    DWORD length = GetModuleFileNameA(module->instance, path, kModulePathBufferSize);
    if (length == 0) return LastErrorResult();
    if (length >= kModulePathBufferSize) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path[length] = 0;

    WCHAR widePath[kModulePathBufferSize];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, kModulePathBufferSize) == 0) return LastErrorResult();

    // The script writes the path inside a quoted token, where a single quote is doubled.
    HRESULT result = replacements.AddQuoted(L"Module", widePath);
    for (const ScriptReplacement* pair = extra; result == S_OK && pair && pair->name; ++pair) {
        result = replacements.Add(pair->name, pair->value ? pair->value : L"");
    }
    if (result != S_OK) return result;

    return RunScriptResource(path, resourceId, "REGISTRY", registering, replacements);
}

HRESULT RunScriptResource(const char* modulePath, UINT resourceId, const char* type, BOOL registering,
                          const ReplacementMap& replacements) {
    SetLastError(0);
    Module module(LoadLibraryExA(modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return LastErrorResult();

    HRSRC resource = FindResourceA(module.get(), MAKEINTRESOURCEA(resourceId), type);
    if (!resource) return LastErrorResult();
    HGLOBAL loaded = LoadResource(module.get(), resource);
    if (!loaded) return LastErrorResult();
    DWORD size = SizeofResource(module.get(), resource);
    const void* bytes = LockResource(loaded);
    if (!bytes && size) return LastErrorResult();

    // The resource holds the text without a terminating zero.
    TaskMemory<char> script(static_cast<char*>(CoTaskMemAlloc(size + 1)));
    if (!script) return E_OUTOFMEMORY;
    if (size) memcpy(script.get(), bytes, size);
    script.get()[size] = 0;

    // The parser keeps a token buffer of several kilobytes: it lives on the heap, not on the
    // caller's stack.
    Win32RegistryTarget registry;
    Win32ScriptCodePage codePage;
    RegistryScriptParser* parser = new RegistryScriptParser(registry, replacements, codePage);
    if (!parser) return E_OUTOFMEMORY;
    HRESULT result = parser->ProcessScript(script.get(), registering != FALSE);
    delete parser;
    return result;
}
