#include "win32_script_code_page.h"

#include <windows.h>
#include <oleauto.h>

#include "task_memory.h"

const char* Win32ScriptCodePage::Next(const char* text) const { return CharNextA(text); }

int Win32ScriptCodePage::CompareNoCase(const char* left, const char* right) const { return lstrcmpiA(left, right); }

int Win32ScriptCodePage::WideToAnsi(const wchar_t* wide, char* out, int capacity) const {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, capacity ? out : nullptr, capacity, nullptr, nullptr);
}

int32_t Win32ScriptCodePage::ParseUnsigned(const char* text, uint32_t* value) const {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return DISP_E_TYPEMISMATCH;
    OLECHAR* wide = static_cast<OLECHAR*>(TaskMemAlloc(static_cast<size_t>(length) * sizeof(OLECHAR)));
    if (!wide) return E_OUTOFMEMORY;
    HRESULT result = DISP_E_TYPEMISMATCH;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length) == length) {
        ULONG number = 0;
        result = VarUI4FromStr(wide, 0, 0, &number);
        if (SUCCEEDED(result)) *value = number;
    }
    TaskMemFree(wide);
    return SUCCEEDED(result) ? 0 : result;
}
