// The object map: one row per class the server serves, ended by a row whose class id is null.
#pragma once

#include <windows.h>
#include <unknwn.h>

typedef HRESULT (*RegistryUpdateFunction)(BOOL registering);
typedef HRESULT (*ClassObjectCreator)(void* context, REFIID iid, void** out);
typedef HRESULT (*InstanceCreator)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* classId;
    RegistryUpdateFunction updateRegistry;
    ClassObjectCreator createClassObject;
    InstanceCreator createInstance;
    IUnknown* classObject;           // cached class factory, one reference; null until created
    DWORD registrationCookie;        // always 0: an in-process server registers nothing
    const char* (*description)();    // null: taken by registration walks not aimed at one class
    const void* (*categoryMap)();    // null: categories are registered explicitly
    void (*startStop)(BOOL starting);
};
