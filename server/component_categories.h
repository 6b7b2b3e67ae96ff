// Component categories through the system's category manager (ICatRegister).
#pragma once

#include <windows.h>
#include <comcat.h>

// Creates (describes) a category: locale 0x0409, the description cut at 127 characters.
HRESULT CreateComponentCategory(REFCATID category, const wchar_t* description);
// Marks a class as implementing a category, or removes that mark.
HRESULT RegisterClassCategory(REFCLSID classId, REFCATID category);
HRESULT UnregisterClassCategory(REFCLSID classId, REFCATID category);

// Fills a CATEGORYINFO; descriptions longer than 127 characters are cut.
void FillCategoryInfo(CATEGORYINFO* info, REFCATID category, LCID locale,
                      const wchar_t* description);

extern const CLSID kStdComponentCategoriesMgr;
extern const IID kICatRegister;
