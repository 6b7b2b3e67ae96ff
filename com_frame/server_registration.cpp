// Registration of the module's classes and of its type library (ServerModule).
#include <string.h>

#include "object_map.h"
#include "owner.h"
#include "server_module.h"

namespace {

const DWORD kModulePathSize = 260;
const wchar_t kTypeLibraryExtension[] = L".tlb";
// Wide path: the module path and room to swap the extension for ".tlb".
const DWORD kWidePathSize = kModulePathSize + 8;

typedef HRESULT(STDAPICALLTYPE* UnRegisterTypeLibFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);

// Replaces everything from the last "." on by ".tlb", or appends ".tlb" when there is no ".".
// The buffer holds kWidePathSize characters.
bool ChangeExtensionToTypeLibrary(wchar_t* path) {
    size_t length = wcslen(path);
    size_t cut = length;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == L'.') cut = i;
    }
    const size_t extensionLength = sizeof(kTypeLibraryExtension) / sizeof(wchar_t);   // with zero
    if (cut + extensionLength > kWidePathSize) return false;
    memcpy(path + cut, kTypeLibraryExtension, sizeof(kTypeLibraryExtension));
    return true;
}

// The help directory of a type library path: everything up to and including the last "\",
// "/" or ":"; empty when there is none. Null when it cannot be allocated.
BSTR HelpDirectoryOf(BSTR path) {
    UINT length = SysStringLen(path);
    UINT kept = 0;
    for (UINT i = 0; i < length; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':') kept = i + 1;
    }
    return SysAllocStringLen(path, kept);
}

}   // namespace

HRESULT ServerModule::RegisterServer() {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        HRESULT result = entry->updateRegistry ? entry->updateRegistry(TRUE) : S_OK;
        if (FAILED(result)) return result;
    }
    return RegisterTypeLibrary();
}

HRESULT ServerModule::UnregisterServer() {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (entry->updateRegistry) entry->updateRegistry(FALSE);
    }
    UnregisterTypeLibrary();
    return S_OK;
}

HRESULT ServerModule::LoadModuleTypeLibrary(ITypeLib** typeLibrary, BSTR* path) {
    if (!typeLibrary || !path) return E_POINTER;
    *typeLibrary = nullptr;
    *path = nullptr;

    char modulePath[kModulePathSize];
    DWORD length = GetModuleFileNameA(typeLibraryInstance, modulePath, kModulePathSize);
    if (length == 0 || length >= kModulePathSize) return E_FAIL;
    modulePath[length] = '\0';

    wchar_t widePath[kWidePathSize];
    if (!MultiByteToWideChar(CP_ACP, 0, modulePath, -1, widePath, kWidePathSize)) return E_FAIL;

    ComPointer<ITypeLib> loaded;
    HRESULT result = LoadTypeLib(widePath, loaded.receive());
    if (FAILED(result)) {
        // No type library in the module itself: try the file of the same name with ".tlb".
        if (!ChangeExtensionToTypeLibrary(widePath)) return result;
        result = LoadTypeLib(widePath, loaded.receive());
        if (FAILED(result)) return result;
    }
    Bstr loadedPath(SysAllocString(widePath));
    if (!loadedPath) return E_OUTOFMEMORY;
    *typeLibrary = loaded.release();
    *path = loadedPath.release();
    return S_OK;
}

HRESULT ServerModule::RegisterTypeLibrary() {
    ComPointer<ITypeLib> typeLibrary;
    Bstr path;
    HRESULT result = LoadModuleTypeLibrary(typeLibrary.receive(), path.receive());
    if (FAILED(result)) return result;
    Bstr helpDirectory(HelpDirectoryOf(path.get()));
    if (!helpDirectory) return E_OUTOFMEMORY;
    return RegisterTypeLib(typeLibrary.get(), path.get(), helpDirectory.get());
}

HRESULT ServerModule::UnregisterTypeLibrary() {
    ComPointer<ITypeLib> typeLibrary;
    Bstr path;
    HRESULT result = LoadModuleTypeLibrary(typeLibrary.receive(), path.receive());
    if (FAILED(result)) return result;
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLibrary->GetLibAttr(&attributes)) || !attributes) return S_OK;
    // Looked up at run time: early Automation runtimes do not have it, and then the type
    // library simply stays registered.
    Module automation(LoadLibraryA("oleaut32.dll"));
    if (automation) {
        UnRegisterTypeLibFunction unregister = reinterpret_cast<UnRegisterTypeLibFunction>(
            reinterpret_cast<void*>(GetProcAddress(automation.get(), "UnRegisterTypeLib")));
        if (unregister) {
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                       attributes->syskind);
        }
    }
    // The attributes go back to the library that handed them out, which the owner above still
    // holds.
    typeLibrary->ReleaseTLibAttr(attributes);
    return S_OK;
}
