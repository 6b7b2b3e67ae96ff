#include "component_categories.h"

#include <string.h>

// {0002E005-0000-0000-C000-000000000046}
const CLSID kStdComponentCategoriesMgr = {0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E012-0000-0000-C000-000000000046}
const IID kICatRegister = {0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

const LCID kCategoryLocale = 0x0409;
const size_t kDescriptionLimit = 127;   // CATEGORYINFO holds 128 characters with the zero

}   // namespace

HRESULT CreateCategoryManager(DWORD context, ComPointer<ICatRegister>* manager) {
    HRESULT result = CoCreateInstance(kStdComponentCategoriesMgr, nullptr, context, kICatRegister,
                                      reinterpret_cast<void**>(manager->receive()));
    manager->Opened(SUCCEEDED(result));
    return result;
}

void FillCategoryInfo(CATEGORYINFO* info, REFCATID category, LCID locale, const wchar_t* description) {
    memset(info, 0, sizeof(*info));
    info->catid = category;
    info->lcid = locale;
    size_t length = wcslen(description);
    if (length > kDescriptionLimit) length = kDescriptionLimit;
    memcpy(info->szDescription, description, length * sizeof(wchar_t));
    info->szDescription[length] = L'\0';
}

HRESULT CreateComponentCategory(REFCATID category, const wchar_t* description) {
    ComPointer<ICatRegister> manager;
    HRESULT result = CreateCategoryManager(CLSCTX_INPROC_SERVER, &manager);
    if (FAILED(result)) return result;
    CATEGORYINFO info;
    FillCategoryInfo(&info, category, kCategoryLocale, description);
    return manager->RegisterCategories(1, &info);
}

HRESULT RegisterClassCategory(REFCLSID classId, REFCATID category) {
    ComPointer<ICatRegister> manager;
    HRESULT result = CreateCategoryManager(CLSCTX_INPROC_SERVER, &manager);
    if (FAILED(result)) return result;
    CATID categories[1] = {category};
    return manager->RegisterClassImplCategories(classId, 1, categories);
}

HRESULT UnregisterClassCategory(REFCLSID classId, REFCATID category) {
    ComPointer<ICatRegister> manager;
    HRESULT result = CreateCategoryManager(CLSCTX_INPROC_SERVER, &manager);
    if (FAILED(result)) return result;
    CATID categories[1] = {category};
    return manager->UnRegisterClassImplCategories(classId, 1, categories);
}
