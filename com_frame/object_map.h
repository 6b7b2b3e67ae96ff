// The object map: one row per class the server serves, ended by a row whose class id is null.
// The module creates a row's class object on the first request for its class and keeps it
// until detach; registration calls every row's registry-update function.
#pragma once

#include <windows.h>
#include <unknwn.h>

typedef HRESULT (*RegistryUpdateFunction)(BOOL registering);
typedef HRESULT (*ClassObjectCreator)(void* context, REFIID iid, void** out);
typedef HRESULT (*InstanceCreator)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* classId;
    RegistryUpdateFunction updateRegistry;
    ClassObjectCreator createClassObject;   // given createInstance as its context
    InstanceCreator createInstance;
    // The cached class object, one reference; null until created. A raw pointer: the map is
    // static data, and an owner there would need a static constructor.
    IUnknown* classObject;
};
