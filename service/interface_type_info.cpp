#include "interface_type_info.h"

#include <string.h>

#include "brantovix_idl.h"
#include "interlocked.h"
#include "owner.h"
#include "server_module.h"

namespace {

// {3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}
const GUID kLibraryId = {0x3F0A52FC, 0x6D1E, 0x11D3, {0x9B, 0x27, 0x00, 0x50, 0xDA, 0x4C, 0x81, 0xE6}};

InterfaceTypeInfo g_orvServiceTypeInfo = {&IID_IOrvService, &kLibraryId, 1, 0, nullptr, nullptr, 0};

// Becomes 1 when the release routine is registered, so that it is registered once per module life.
LONG g_releaseRegistered = 0;

}   // namespace

InterfaceTypeInfo& OrvServiceTypeInfo() {
    return g_orvServiceTypeInfo;
}

HRESULT InterfaceTypeInfo::LoadTypeInformation(LCID lcid) {
    if (typeInfo) return S_OK;
    ServerModule* module = ServerModule::Current();
    if (!module) return E_UNEXPECTED;

    HRESULT result = S_OK;
    EnterCriticalSection(&module->typeInfoLock);
    if (!typeInfo) {
        ComPointer<ITypeLib> library;
        ComPointer<ITypeInfo> info;
        result = LoadRegTypeLib(*libraryId, majorVersion, minorVersion, lcid, library.receive());
        if (library.Opened(SUCCEEDED(result))) {
            result = library->GetTypeInfoOfGuid(*interfaceId, info.receive());
        }
        if (info.Opened(SUCCEEDED(result))) {
            ComPointer<ITypeInfo2> info2;
            if (info2.Opened(
                    SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.receive()))))) {
                info.reset(info2.release());
            }
            BuildNameCache(info.get());
            typeInfo = info.release();
        }
    }
    LeaveCriticalSection(&module->typeInfoLock);

    // Outside the lock: AddTerminationCallback takes the same lock itself.
    if (InterlockedExchange(&g_releaseRegistered, 1) == 0) {
        module->AddTerminationCallback(&InterfaceTypeInfo::ReleaseTypeInformation, reinterpret_cast<DWORD>(this));
    }
    return result;
}

void InterfaceTypeInfo::BuildNameCache(ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;
    int count = attributes->cFuncs;
    NameCacheEntry* cache = nullptr;
    if (count > 0) {
        cache = new NameCacheEntry[count];
        if (!cache) count = 0;
    }
    for (int i = 0; i < count; ++i) {
        cache[i].name = nullptr;
        cache[i].length = 0;
        cache[i].dispId = DISPID_UNKNOWN;
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        Bstr name;
        if (name.Opened(
                SUCCEEDED(info->GetDocumentation(function->memid, name.receive(), nullptr, nullptr, nullptr)))) {
            cache[i].length = static_cast<int>(SysStringLen(name.get()));
            cache[i].dispId = function->memid;
            cache[i].name = name.release();   // the cache's until the module terminates
        }
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
    nameCache = cache;
    nameCacheCount = count;
}

HRESULT InterfaceTypeInfo::GetTypeInfo(UINT, LCID lcid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    HRESULT result = LoadTypeInformation(lcid);
    *out = typeInfo;
    if (!typeInfo) return result;
    typeInfo->AddRef();
    return S_OK;
}

HRESULT InterfaceTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds) {
    HRESULT result = LoadTypeInformation(lcid);
    if (!typeInfo) return result;
    for (UINT i = 0; i < count; ++i) {
        int length = lstrlenW(names[i]);
        bool cached = false;
        for (int entry = nameCacheCount - 1; entry >= 0; --entry) {
            const NameCacheEntry& candidate = nameCache[entry];
            if (candidate.name && candidate.length == length &&
                memcmp(candidate.name, names[i], length * sizeof(OLECHAR)) == 0) {
                dispIds[i] = candidate.dispId;
                cached = true;
                break;
            }
        }
        if (cached) continue;
        // Not in the cache: the type information answers the whole request.
        result = typeInfo->GetIDsOfNames(names, count, dispIds);
        if (FAILED(result)) return result;
    }
    return result;
}

HRESULT InterfaceTypeInfo::Invoke(IDispatch* instance, DISPID dispId, LCID lcid, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!typeInfo) {
        HRESULT loaded = LoadTypeInformation(lcid);
        if (!typeInfo) return loaded;
    }
    return typeInfo->Invoke(instance, dispId, flags, params, result, exception, argumentError);
}

// The record is a plain aggregate in static storage (the module has no static constructors), so
// its type information and the cache's names are released here by hand, at termination.
void InterfaceTypeInfo::ReleaseTypeInformation(DWORD context) {
    InterfaceTypeInfo* record = reinterpret_cast<InterfaceTypeInfo*>(context);
    if (record->typeInfo) {
        record->typeInfo->Release();
        record->typeInfo = nullptr;
    }
    if (record->nameCache) {
        for (int i = record->nameCacheCount - 1; i >= 0; --i) SysFreeString(record->nameCache[i].name);
        delete[] record->nameCache;
        record->nameCache = nullptr;
    }
    record->nameCacheCount = 0;
}
