#include "win32_script_code_page.h"

#include <windows.h>
#include <oleauto.h>

#include "decimal_dword.h"
#include "owner.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* VarUI4FromStrFunction)(OLECHAR* text, LCID locale, ULONG flags, ULONG* value);

}   // namespace

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
    // VarUI4FromStr came with a later Automation runtime than the one Windows 95 shipped with
    // (the VT_UI4 conversions of OLE Automation 2.20): it is looked up at run time, so that the
    // module loads there, and where it is absent the decimal texts of "D" values are converted
    // here alike.
    if (conversion_ == NumberConversion::kOwn) return decimal_dword::Parse(text, value);
    // The module imports from oleaut32, so it stays loaded as long as the module does.
    const HMODULE automation = GetModuleHandleA("oleaut32.dll");
    VarUI4FromStrFunction convert = nullptr;
    if (automation)
        convert = reinterpret_cast<VarUI4FromStrFunction>(
            reinterpret_cast<void*>(GetProcAddress(automation, "VarUI4FromStr")));
    if (!convert) return decimal_dword::Parse(text, value);

    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return DISP_E_TYPEMISMATCH;
    TaskMemory<OLECHAR> wide(static_cast<OLECHAR*>(CoTaskMemAlloc(static_cast<size_t>(length) * sizeof(OLECHAR))));
    if (!wide) return E_OUTOFMEMORY;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), length) != length) return DISP_E_TYPEMISMATCH;
    ULONG number = 0;
    HRESULT result = convert(wide.get(), 0, 0, &number);
    if (FAILED(result)) return result;
    *value = number;
    return 0;
}
