// Registration of the module's classes and of its type library (ServerModule).
#include <string.h>

#include "object_map.h"
#include "owner.h"
#include "server_module.h"

namespace {

const DWORD kModulePathSize = 260;
const DWORD kIndexTextLimit = 32;
const wchar_t kTypeLibraryExtension[] = L".tlb";
// Wide path: the module path, an index text and room to swap the extension for ".tlb".
const DWORD kWidePathSize = kModulePathSize + kIndexTextLimit + 8;

typedef HRESULT(STDAPICALLTYPE* UnRegisterTypeLibFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);

// With a class id, only that class's entry; without one, every entry.
bool TakesEntry(const ObjectMapEntry* entry, const CLSID* classId) {
    return !classId || IsEqualCLSID(*entry->classId, *classId) != FALSE;
}

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

}  // namespace

HRESULT ServerModule::RegisterServer(BOOL registerTypeLibrary, const CLSID* classId) {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (!TakesEntry(entry, classId)) continue;
        HRESULT result = entry->updateRegistry ? entry->updateRegistry(TRUE) : S_OK;
        if (FAILED(result)) return result;
    }
    return registerTypeLibrary ? RegisterTypeLibrary() : S_OK;
}

HRESULT ServerModule::UnregisterServer(BOOL unregisterTypeLibrary, const CLSID* classId) {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (!TakesEntry(entry, classId)) continue;
        if (entry->updateRegistry) entry->updateRegistry(FALSE);
    }
    if (unregisterTypeLibrary) UnregisterTypeLibrary();
    return S_OK;
}

HRESULT ServerModule::LoadModuleTypeLibrary(const char* indexText, ITypeLib** typeLibrary,
                                            BSTR* path) {
    if (!typeLibrary || !path) return E_POINTER;
    *typeLibrary = nullptr;
    *path = nullptr;

    char modulePath[kModulePathSize + kIndexTextLimit];
    DWORD length = GetModuleFileNameA(typeLibraryInstance, modulePath, kModulePathSize);
    if (length == 0 || length >= kModulePathSize) return E_FAIL;
    modulePath[length] = '\0';
    if (indexText) {
        if (lstrlenA(indexText) >= static_cast<int>(kIndexTextLimit)) return E_INVALIDARG;
        lstrcatA(modulePath, indexText);
    }

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
    HRESULT result = LoadModuleTypeLibrary(nullptr, typeLibrary.receive(), path.receive());
    if (FAILED(result)) return result;
    Bstr helpDirectory(HelpDirectoryOf(path.get()));
    if (!helpDirectory) return E_OUTOFMEMORY;
    return RegisterTypeLib(typeLibrary.get(), path.get(), helpDirectory.get());
}

HRESULT ServerModule::UnregisterTypeLibrary() {
    ComPointer<ITypeLib> typeLibrary;
    Bstr path;
    HRESULT result = LoadModuleTypeLibrary(nullptr, typeLibrary.receive(), path.receive());
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
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                       attributes->lcid, attributes->syskind);
        }
    }
    // The attributes go back to the library that handed them out, which the owner above still
    // holds.
    typeLibrary->ReleaseTLibAttr(attributes);
    return S_OK;
}
