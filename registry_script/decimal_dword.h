// The "D" value conversion where the system has none: a decimal text to an unsigned 32-bit
// number, as the system's VarUI4FromStr converts the texts a registrar script gives "D"
// values: decimal digits, with blanks (spaces and tabs) before and after. Free of platform
// calls.
#pragma once

#include <stdint.h>

namespace decimal_dword {

const int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);   // DISP_E_TYPEMISMATCH
const int32_t kOverflow = static_cast<int32_t>(0x8002000Au);       // DISP_E_OVERFLOW

// 0 with the number in *value; kOverflow for a number above 4294967295; kTypeMismatch for a
// text that is no such number (empty, blanks only, a sign, hexadecimal or other forms, a
// character after the digits that is not a blank). *value is changed only on success.
int32_t Parse(const char* text, uint32_t* value);

}   // namespace decimal_dword
