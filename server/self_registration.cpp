// DllRegisterServer and DllUnregisterServer: the enumerator driver file, the class's registrar
// script and type library, and the class's three component categories.
#include <windows.h>
#include <comcat.h>

#include "brantovix_idl.h"
#include "component_categories.h"
#include "enumerator_driver_file.h"
#include "server_module.h"

namespace {

// The maker's own category, described in the user's default locale.
// {B93E1F57-72A4-11D2-8C5D-00A0C9E48B12}
const CATID kOrvServiceCategory = {0xB93E1F57, 0x72A4, 0x11D2, {0x8C, 0x5D, 0x00, 0xA0, 0xC9, 0xE4, 0x8B, 0x12}};
const wchar_t kOrvServiceDescription[] = L"Orv Service";
// CATID_SafeForInitializing {7DD95802-9882-11CF-9FA9-00AA006C42C4}
const CATID kSafeForInitializing = {0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
const wchar_t kSafeForInitializingDescription[] = L"Controls safely initializable from persistent data!";
// CATID_SafeForScripting {7DD95801-9882-11CF-9FA9-00AA006C42C4}
const CATID kSafeForScripting = {0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
const wchar_t kSafeForScriptingDescription[] = L"Controls safely scriptable!";

// The maker's category is asked of a manager in any context, not only in-process.
const DWORD kAnyContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The maker's category and the class's mark in it; failures are not reported.
void RegisterOrvServiceCategory(BOOL registering) {
    ComPointer<ICatRegister> manager;
    if (FAILED(CreateCategoryManager(kAnyContext, &manager)) || !manager) return;
    CATID categories[1] = {kOrvServiceCategory};
    if (registering) {
        CATEGORYINFO info;
        FillCategoryInfo(&info, kOrvServiceCategory, GetUserDefaultLCID(), kOrvServiceDescription);
        if (SUCCEEDED(manager->RegisterCategories(1, &info))) {
            manager->RegisterClassImplCategories(CLSID_Drivers, 1, categories);
        }
    } else {
        manager->UnRegisterClassImplCategories(CLSID_Drivers, 1, categories);
    }
}

}   // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    RemoveEnumeratorDriverFile();
    ServerModule* module = ServerModule::Current();
    HRESULT moduleResult = module ? module->RegisterServer() : E_UNEXPECTED;
    if (SUCCEEDED(moduleResult)) RegisterOrvServiceCategory(TRUE);

    HRESULT result = CreateComponentCategory(kSafeForInitializing, kSafeForInitializingDescription);
    if (FAILED(result)) return result;
    result = RegisterClassCategory(CLSID_Drivers, kSafeForInitializing);
    if (FAILED(result)) return result;
    result = CreateComponentCategory(kSafeForScripting, kSafeForScriptingDescription);
    if (FAILED(result)) return result;
    result = RegisterClassCategory(CLSID_Drivers, kSafeForScripting);
    if (FAILED(result)) return result;
    // The category steps succeeded; a class whose script or type library did not register
    // is still not usable, and the caller hears of it.
    return FAILED(moduleResult) ? moduleResult : result;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    RemoveEnumeratorDriverFile();
    ServerModule* module = ServerModule::Current();
    HRESULT moduleResult = module ? module->UnregisterServer() : E_UNEXPECTED;
    if (SUCCEEDED(moduleResult)) RegisterOrvServiceCategory(FALSE);

    HRESULT result = UnregisterClassCategory(CLSID_Drivers, kSafeForInitializing);
    if (FAILED(result)) return result;
    return UnregisterClassCategory(CLSID_Drivers, kSafeForScripting);
}
