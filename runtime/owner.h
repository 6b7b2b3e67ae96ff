// Owners of platform resources. One template, one line per kind: an owner closes what it holds
// exactly once, cannot be copied, can be moved, and hands out get(), reset(), release() and,
// for the out-parameter of an open call, receive().
//
//   RegistryKey key;
//   if (!key.Opened(RegOpenKeyExA(root, name, 0, access, key.receive()) == ERROR_SUCCESS)) return 0;
//
// Opened() takes whether the open succeeded: a failed open opened nothing, so whatever it left
// in the out-parameter is dropped, never closed. It takes a bool only, so that a status code
// (where 0 means success) cannot be passed to it by mistake.
//
// Owners are locals and members only: the product has no static constructors.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

template <typename Traits>
class Owner {
public:
    using Value = typename Traits::Value;

    Owner() : value_(Traits::Empty()) {}
    explicit Owner(Value value) : value_(value) {}
    ~Owner() { reset(); }
    Owner(Owner&& other) : value_(other.release()) {}
    Owner& operator=(Owner&& other) {
        if (this != &other) reset(other.release());
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::Empty(); }
    explicit operator bool() const { return valid(); }
    Value operator->() const { return value_; }

    // Gives up ownership without closing.
    Value release() {
        Value value = value_;
        value_ = Traits::Empty();
        return value;
    }
    // Closes what is held, then holds `value`.
    void reset(Value value = Traits::Empty()) {
        Value old = value_;
        value_ = value;
        if (old != Traits::Empty() && old != value) Traits::Close(old);
    }
    // For the out-parameter of an open or create call; closes what is held first.
    Value* receive() {
        reset();
        return &value_;
    }
    bool Opened(bool succeeded) {
        if (succeeded) return valid();
        value_ = Traits::Empty();
        return false;
    }
    template <typename Status>
    bool Opened(Status) = delete;

private:
    Value value_;
};

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
template <typename T> using TaskMemory = Owner<TaskMemoryTraits<T>>;
using Bstr = Owner<BstrTraits>;
template <typename Interface> using ComPointer = Owner<ComPointerTraits<Interface>>;
template <typename T> using HeapArray = Owner<HeapArrayTraits<T>>;
