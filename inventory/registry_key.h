// Owner of an open registry key: closes it exactly once.
#pragma once

#include <windows.h>

class RegistryKey {
public:
    RegistryKey() : key_(nullptr) {}
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() { reset(); }
    RegistryKey(RegistryKey&& other) : key_(other.release()) {}
    RegistryKey& operator=(RegistryKey&& other) {
        if (this != &other) reset(other.release());
        return *this;
    }

    HKEY get() const { return key_; }
    // For the out-parameter of an open or create call; closes what is held first.
    HKEY* receive() {
        reset();
        return &key_;
    }
    // Takes the status of the open or create call that wrote through receive(). A failed call
    // opened nothing: whatever it left in the out-parameter is dropped, never closed.
    bool Opened(LONG status) {
        if (status == ERROR_SUCCESS) return true;
        key_ = nullptr;
        return false;
    }
    HKEY release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY key = nullptr) {
        if (key_) RegCloseKey(key_);
        key_ = key;
    }

private:
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY key_;
};
