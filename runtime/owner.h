// Owners of platform resources: the Windows kinds of Owner<Traits> (owner_template.h), one
// line each. Every closing function of the product's handles, keys, BSTRs and COM pointers is
// called here.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "owner_template.h"

struct RegistryKeyTraits {
    using Value = HKEY;
    static HKEY Empty() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};

// Handles from CreateFileA (files and devices) and from FindFirstFileA are empty when they hold
// INVALID_HANDLE_VALUE, the value those calls return on failure.
struct FileHandleTraits {
    using Value = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct FindHandleTraits {
    using Value = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { FindClose(handle); }
};

struct ModuleTraits {
    using Value = HMODULE;
    static HMODULE Empty() { return nullptr; }
    static void Close(HMODULE module) { FreeLibrary(module); }
};

template <typename T>
struct TaskMemoryTraits {
    using Value = T*;
    static T* Empty() { return nullptr; }
    static void Close(T* block) { CoTaskMemFree(block); }
};

struct BstrTraits {
    using Value = BSTR;
    static BSTR Empty() { return nullptr; }
    static void Close(BSTR text) { SysFreeString(text); }
};

template <typename Interface>
struct ComPointerTraits {
    using Value = Interface*;
    static Interface* Empty() { return nullptr; }
    static void Close(Interface* object) { object->Release(); }
};

// A buffer from the product's new[] (which answers null, not an exception, when memory runs out).
template <typename T>
struct HeapArrayTraits {
    using Value = T*;
    static T* Empty() { return nullptr; }
    static void Close(T* block) { delete[] block; }
};

using RegistryKey = Owner<RegistryKeyTraits>;
using FileHandle = Owner<FileHandleTraits>;
using FindHandle = Owner<FindHandleTraits>;
using Module = Owner<ModuleTraits>;
template <typename T>
using TaskMemory = Owner<TaskMemoryTraits<T>>;
using Bstr = Owner<BstrTraits>;
template <typename Interface>
using ComPointer = Owner<ComPointerTraits<Interface>>;
template <typename T>
using HeapArray = Owner<HeapArrayTraits<T>>;
