#include "component_categories.h"

#include <string.h>

// {0002E005-0000-0000-C000-000000000046}
const CLSID kStdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E012-0000-0000-C000-000000000046}
const IID kICatRegister = {
    0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

const LCID kCategoryLocale = 0x0409;
const size_t kDescriptionLimit = 127;   // CATEGORYINFO holds 128 characters with the zero

HRESULT CreateCategoryManager(ICatRegister** manager) {
    *manager = nullptr;
    return CoCreateInstance(kStdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                            kICatRegister, reinterpret_cast<void**>(manager));
}

}  // namespace

void FillCategoryInfo(CATEGORYINFO* info, REFCATID category, LCID locale,
                      const wchar_t* description) {
    memset(info, 0, sizeof(*info));
    info->catid = category;
    info->lcid = locale;
    size_t length = wcslen(description);
    if (length > kDescriptionLimit) length = kDescriptionLimit;
    memcpy(info->szDescription, description, length * sizeof(wchar_t));
    info->szDescription[length] = L'\0';
}

HRESULT CreateComponentCategory(REFCATID category, const wchar_t* description) {
    ICatRegister* manager = nullptr;
    HRESULT result = CreateCategoryManager(&manager);
    if (FAILED(result)) return result;
    CATEGORYINFO info;
    FillCategoryInfo(&info, category, kCategoryLocale, description);
    result = manager->RegisterCategories(1, &info);
    manager->Release();
    return result;
}

HRESULT RegisterClassCategory(REFCLSID classId, REFCATID category) {
    ICatRegister* manager = nullptr;
    HRESULT result = CreateCategoryManager(&manager);
    if (FAILED(result)) return result;
    CATID categories[1] = {category};
    result = manager->RegisterClassImplCategories(classId, 1, categories);
    manager->Release();
    return result;
}

HRESULT UnregisterClassCategory(REFCLSID classId, REFCATID category) {
    ICatRegister* manager = nullptr;
    HRESULT result = CreateCategoryManager(&manager);
    if (FAILED(result)) return result;
    CATID categories[1] = {category};
    result = manager->UnRegisterClassImplCategories(classId, 1, categories);
    manager->Release();
    return result;
}
