// The library's process-wide frame: one ServerModule for the whole module, reached through
// ServerModule::Current() once the entry point has initialised it.
#pragma once

#include <windows.h>
#include <oaidl.h>

struct ObjectMapEntry;

typedef void (*TerminationCallback)(DWORD context);

// One registered termination callback; elements are pushed at the head, so the callback
// registered last runs first at detach.
struct TerminationElement {
    TerminationCallback callback;
    DWORD context;
    TerminationElement* next;
};

class ServerModule {
public:
    // Attach and detach only (DllMain). Initialize records the instance handle in both handle
    // fields, the object map, a lock count of 0, the two locks and an empty termination list,
    // and makes this object the module's current one.
    void Initialize(ObjectMapEntry* map, HINSTANCE instance);
    void Terminate();

    void Lock();
    void Unlock();
    LONG LockCount() const { return lockCount; }

    // S_OK, or E_OUTOFMEMORY (list unchanged) when the element cannot be allocated.
    HRESULT AddTerminationCallback(TerminationCallback callback, DWORD context);

    // DllGetClassObject: the class object of the first map entry for clsid, created once and
    // cached in the entry; CLASS_E_CLASSNOTAVAILABLE when no entry serves clsid.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);

    // Registration of every class of the map, then of the module's type library.
    // RegisterServer stops at the first failure; UnregisterServer ignores failures.
    HRESULT RegisterServer();
    HRESULT UnregisterServer();

    // Loads the type library of the module file (its "TYPELIB" resource). Failing that, the
    // file beside the module with the extension ".tlb". On success *typeLibrary and *path (the
    // path that worked) belong to the caller.
    HRESULT LoadModuleTypeLibrary(ITypeLib** typeLibrary, BSTR* path);
    HRESULT RegisterTypeLibrary();
    HRESULT UnregisterTypeLibrary();

    static ServerModule* Current();

    HINSTANCE instance;
    HINSTANCE typeLibraryInstance;
    ObjectMapEntry* objectMap;
    volatile LONG lockCount;
    CRITICAL_SECTION typeInfoLock;
    CRITICAL_SECTION objectMapLock;
    TerminationElement* terminationList;
};

// Lock and Unlock of the current module, for the objects whose lives keep the library loaded
// (live objects, class factories referenced by clients, LockServer). Nothing happens while no
// module is attached.
void LockModule();
void UnlockModule();
