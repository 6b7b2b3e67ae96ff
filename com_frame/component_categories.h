// Component categories through the system's category manager (ICatRegister).
#pragma once

#include <windows.h>
#include <comcat.h>

#include "owner.h"

// Creates (describes) a category: locale 0x0409, the description cut at 127 characters.
HRESULT CreateComponentCategory(REFCATID category, const wchar_t* description);
// Marks a class as implementing a category, or removes that mark.
HRESULT RegisterClassCategory(REFCLSID classId, REFCATID category);
HRESULT UnregisterClassCategory(REFCLSID classId, REFCATID category);

// The system's category manager, created in the given class contexts; the manager belongs to
// *manager on success.
HRESULT CreateCategoryManager(DWORD context, ComPointer<ICatRegister>* manager);

// Fills a CATEGORYINFO; descriptions longer than 127 characters are cut.
void FillCategoryInfo(CATEGORYINFO* info, REFCATID category, LCID locale, const wchar_t* description);

extern const CLSID kStdComponentCategoriesMgr;
extern const IID kICatRegister;
