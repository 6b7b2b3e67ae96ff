// Entry point of Brantovix.dll, its object map and the class-object exports.
#include <windows.h>

#include "brantovix_idl.h"
#include "class_factory.h"
#include "drivers_object.h"
#include "object_map.h"
#include "server_module.h"

namespace {

ServerModule g_module;

ObjectMapEntry g_objectMap[] = {
    {&CLSID_Drivers, UpdateDriversRegistry, CreateClassFactory, CreateDriversInstance, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}   // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module.Initialize(g_objectMap, instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_module.Terminate();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return g_module.GetClassObject(clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_module.LockCount() == 0 ? S_OK : S_FALSE;
}
