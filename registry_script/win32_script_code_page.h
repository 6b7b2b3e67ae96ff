// The registrar script parser's code page on the platform: the system's ANSI code page
// (CharNextA, lstrcmpiA, WideCharToMultiByte with CP_ACP) and the "D" value conversion, the
// system's VarUI4FromStr where its Automation runtime has one.
#pragma once

#include "script_code_page.h"

class Win32ScriptCodePage : public ScriptCodePage {
public:
    // Which conversion "D" values get.
    enum class NumberConversion {
        kSystemWherePresent,   // VarUI4FromStr, looked up at run time; decimal_dword where absent
        kOwn,                  // decimal_dword always, as on a system without VarUI4FromStr
    };
    explicit Win32ScriptCodePage(NumberConversion conversion = NumberConversion::kSystemWherePresent)
        : conversion_(conversion) {}

    const char* Next(const char* text) const override;
    int CompareNoCase(const char* left, const char* right) const override;
    int WideToAnsi(const wchar_t* wide, char* out, int capacity) const override;
    int32_t ParseUnsigned(const char* text, uint32_t* value) const override;

private:
    NumberConversion conversion_;
};
