// The kernel's interlocked functions, called in kernel32 itself. This compiler's platform
// headers make InterlockedIncrement, InterlockedDecrement and InterlockedExchange inline
// processor instructions; the product's counters go through the kernel's functions instead, so
// that they behave as each version of the platform documents them. On Windows 95
// InterlockedIncrement and InterlockedDecrement return only the sign of the new value (positive,
// 0 or negative), not the value: no caller may take a count from them. InterlockedExchange
// returns the previous value on every version.
#pragma once

#include <windows.h>

#undef InterlockedIncrement
#undef InterlockedDecrement
#undef InterlockedExchange

extern "C" {
__declspec(dllimport) LONG WINAPI InterlockedIncrement(LONG volatile* addend);
__declspec(dllimport) LONG WINAPI InterlockedDecrement(LONG volatile* addend);
__declspec(dllimport) LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
}
