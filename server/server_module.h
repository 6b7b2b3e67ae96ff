// The library's process-wide frame: one ServerModule for the whole module, reached through
// ServerModule::Current() once the entry point has initialised it.
#pragma once

#include <windows.h>

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

    static ServerModule* Current();

    HINSTANCE instance;
    HINSTANCE typeLibraryInstance;
    ObjectMapEntry* objectMap;
    volatile LONG lockCount;
    CRITICAL_SECTION typeInfoLock;
    CRITICAL_SECTION objectMapLock;
    TerminationElement* terminationList;
};
