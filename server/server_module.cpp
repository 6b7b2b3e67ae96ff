#include "server_module.h"

#include <stdlib.h>

#include "object_map.h"

namespace {
ServerModule* g_currentModule = nullptr;
}

ServerModule* ServerModule::Current() { return g_currentModule; }

void ServerModule::Initialize(ObjectMapEntry* map, HINSTANCE module) {
    g_currentModule = this;
    instance = module;
    typeLibraryInstance = module;
    objectMap = map;
    lockCount = 0;
    InitializeCriticalSection(&typeInfoLock);
    InitializeCriticalSection(&objectMapLock);
    terminationList = nullptr;
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (entry->startStop) entry->startStop(TRUE);
    }
}

void ServerModule::Terminate() {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (entry->classObject) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
        if (entry->startStop) entry->startStop(FALSE);
    }
    DeleteCriticalSection(&typeInfoLock);
    DeleteCriticalSection(&objectMapLock);
    // The locks are gone: no other thread can be in the library at detach.
    TerminationElement* element = terminationList;
    terminationList = nullptr;
    while (element) {
        TerminationElement* next = element->next;
        element->callback(element->context);
        free(element);
        element = next;
    }
}

void ServerModule::Lock() { InterlockedIncrement(&lockCount); }

void ServerModule::Unlock() { InterlockedDecrement(&lockCount); }

HRESULT ServerModule::AddTerminationCallback(TerminationCallback callback, DWORD context) {
    TerminationElement* element = static_cast<TerminationElement*>(malloc(sizeof(TerminationElement)));
    if (!element) return E_OUTOFMEMORY;
    element->callback = callback;
    element->context = context;
    EnterCriticalSection(&typeInfoLock);
    element->next = terminationList;
    terminationList = element;
    LeaveCriticalSection(&typeInfoLock);
    return S_OK;
}
