#include "server_module.h"

#include "interlocked.h"
#include "object_map.h"
#include "owner.h"

namespace {
ServerModule* g_currentModule = nullptr;
}

ServerModule* ServerModule::Current() {
    return g_currentModule;
}

void ServerModule::Initialize(ObjectMapEntry* map, HINSTANCE module) {
    g_currentModule = this;
    instance = module;
    typeLibraryInstance = module;
    objectMap = map;
    lockCount = 0;
    InitializeCriticalSection(&typeInfoLock);
    InitializeCriticalSection(&objectMapLock);
    terminationList = nullptr;
}

void ServerModule::Terminate() {
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        // The cached reference leaves the map and is released at the end of the step.
        ComPointer<IUnknown> cached(entry->classObject);
        entry->classObject = nullptr;
    }
    DeleteCriticalSection(&typeInfoLock);
    DeleteCriticalSection(&objectMapLock);
    // The locks are gone: no other thread can be in the library at detach.
    TerminationElement* element = terminationList;
    terminationList = nullptr;
    while (element) {
        TerminationElement* next = element->next;
        element->callback(element->context);
        delete element;
        element = next;
    }
}

// Their results are not used (Windows 95 returns only the sign of the new count):
// DllCanUnloadNow reads the count itself.
void ServerModule::Lock() {
    InterlockedIncrement(&lockCount);
}

void ServerModule::Unlock() {
    InterlockedDecrement(&lockCount);
}

void LockModule() {
    if (ServerModule* module = ServerModule::Current()) module->Lock();
}

void UnlockModule() {
    if (ServerModule* module = ServerModule::Current()) module->Unlock();
}

HRESULT ServerModule::AddTerminationCallback(TerminationCallback callback, DWORD context) {
    TerminationElement* element = new TerminationElement;
    if (!element) return E_OUTOFMEMORY;
    element->callback = callback;
    element->context = context;
    EnterCriticalSection(&typeInfoLock);
    element->next = terminationList;
    terminationList = element;
    LeaveCriticalSection(&typeInfoLock);
    return S_OK;
}

HRESULT ServerModule::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT result = S_OK;
    for (ObjectMapEntry* entry = objectMap; entry && entry->classId; ++entry) {
        if (!entry->createClassObject || !IsEqualCLSID(clsid, *entry->classId)) continue;
        if (!entry->classObject) {
            // Tested again under the lock: concurrent callers make exactly one factory.
            EnterCriticalSection(&objectMapLock);
            if (!entry->classObject) {
                result = entry->createClassObject(reinterpret_cast<void*>(entry->createInstance), IID_IUnknown,
                                                  reinterpret_cast<void**>(&entry->classObject));
            }
            LeaveCriticalSection(&objectMapLock);
        }
        if (entry->classObject) result = entry->classObject->QueryInterface(iid, out);
        break;
    }
    if (!*out && result == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
    return result;
}
