// Redirects one import of this test executable: the product code linked into it calls the
// platform through the executable's import table, so a replaced slot sees every call the
// product makes, with its arguments exactly as they leave it. The same works on a loaded DLL
// (Brantovix.dll in the test process): it calls through an import table of its own.
#pragma once

#include <windows.h>

// Replaces `module`'s import of dll!function; returns the previous target, or null when the
// module does not import that function.
inline void* PatchModuleImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    if (!base) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(DWORD), PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(DWORD), protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

// Replaces this executable's import of dll!function.
inline void* PatchImport(const char* dll, const char* function, void* replacement) {
    return PatchModuleImport(GetModuleHandleA(nullptr), dll, function, replacement);
}

// Puts the original target back when the scope ends.
class ScopedImportPatch {
public:
    ScopedImportPatch(const char* dll, const char* function, void* replacement)
        : ScopedImportPatch(GetModuleHandleA(nullptr), dll, function, replacement) {}
    ScopedImportPatch(HMODULE module, const char* dll, const char* function, void* replacement)
        : module_(module),
          dll_(dll),
          function_(function),
          previous_(PatchModuleImport(module, dll, function, replacement)) {}
    ~ScopedImportPatch() {
        if (previous_) PatchModuleImport(module_, dll_, function_, previous_);
    }
    void* previous() const { return previous_; }

private:
    HMODULE module_;
    const char* dll_;
    const char* function_;
    void* previous_;
    ScopedImportPatch(const ScopedImportPatch&) = delete;
    ScopedImportPatch& operator=(const ScopedImportPatch&) = delete;
};
