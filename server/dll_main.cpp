// Entry point of Brantovix.dll.
#include <windows.h>

#include "object_map.h"
#include "server_module.h"

namespace {
ServerModule g_module;
ObjectMapEntry g_objectMap[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module.Initialize(g_objectMap, instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_module.Terminate();
    }
    return TRUE;
}
