// The registrar script parser's code page on the platform: the system's ANSI code page
// (CharNextA, lstrcmpiA, WideCharToMultiByte with CP_ACP) and VarUI4FromStr.
#pragma once

#include "script_code_page.h"

class Win32ScriptCodePage : public ScriptCodePage {
public:
    const char* Next(const char* text) const override;
    int CompareNoCase(const char* left, const char* right) const override;
    int WideToAnsi(const wchar_t* wide, char* out, int capacity) const override;
    int32_t ParseUnsigned(const char* text, uint32_t* value) const override;
};
