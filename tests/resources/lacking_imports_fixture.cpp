// Fixture of the import check (windows95_imports_test): a DLL that imports two functions that
// Windows 95 as first shipped lacks, InterlockedCompareExchange and VarUI4FromStr, beside two it
// has. Never loaded; only its import table is read. Declared here rather than through the
// platform headers, which may make the interlocked function a compiler intrinsic.
extern "C" {
__declspec(dllimport) long __stdcall InterlockedCompareExchange(long volatile* target, long exchange, long comparand);
__declspec(dllimport) long __stdcall VarUI4FromStr(wchar_t* text, unsigned long locale, unsigned long flags,
                                                   unsigned long* value);
__declspec(dllimport) unsigned long __stdcall GetTickCount();
__declspec(dllimport) void __stdcall SysFreeString(wchar_t* text);

int __stdcall FixtureEntry(void*, unsigned long, void*) {
    return 1;
}

__declspec(dllexport) long __stdcall UseLackingImports(long volatile* target, wchar_t* text, unsigned long* value) {
    SysFreeString(nullptr);
    return InterlockedCompareExchange(target, static_cast<long>(GetTickCount()), 0) + VarUI4FromStr(text, 0, 0, value);
}
}
