#include "win32_script_code_page.h"

#include <windows.h>
#include <oleauto.h>

#include "owner.h"

const char* Win32ScriptCodePage::Next(const char* text) const {
    return CharNextA(text);
}

int Win32ScriptCodePage::CompareNoCase(const char* left, const char* right) const {
    return lstrcmpiA(left, right);
}

int Win32ScriptCodePage::WideToAnsi(const wchar_t* wide, char* out, int capacity) const {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, capacity ? out : nullptr, capacity, nullptr, nullptr);
}

int32_t Win32ScriptCodePage::ParseUnsigned(const char* text, uint32_t* value) const {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return DISP_E_TYPEMISMATCH;
    TaskMemory<OLECHAR> wide(static_cast<OLECHAR*>(CoTaskMemAlloc(static_cast<size_t>(length) * sizeof(OLECHAR))));
    if (!wide) return E_OUTOFMEMORY;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), length) != length) return DISP_E_TYPEMISMATCH;
    ULONG number = 0;
    HRESULT result = VarUI4FromStr(wide.get(), 0, 0, &number);
    if (FAILED(result)) return result;
    *value = number;
    return 0;
}
