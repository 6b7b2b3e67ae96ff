// InterfaceTypeInfo: the module-wide holder of IOrvService's type information, loaded from the
// registered type library on first need (once, under the module's type-information lock) and
// released when the module terminates. It also keeps a small cache of the interface's member
// names so that late-bound calls by exact name need no call into the type information.
#pragma once

#include <windows.h>
#include <oaidl.h>

struct NameCacheEntry {
    BSTR name;    // null when the member's name could not be read: never matches
    int length;   // SysStringLen(name)
    DISPID dispId;
};

struct InterfaceTypeInfo {
    const IID* interfaceId;
    const GUID* libraryId;
    WORD majorVersion;
    WORD minorVersion;
    ITypeInfo* typeInfo;
    NameCacheEntry* nameCache;
    int nameCacheCount;

    // S_OK once the type information is present, else the failing load's code.
    HRESULT LoadTypeInformation(LCID lcid);
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds);
    HRESULT Invoke(IDispatch* instance, DISPID dispId, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError);

    void BuildNameCache(ITypeInfo* info);
    // Termination callback; the context is the record.
    static void ReleaseTypeInformation(DWORD context);
};

// The one record of IOrvService in this module.
InterfaceTypeInfo& OrvServiceTypeInfo();
