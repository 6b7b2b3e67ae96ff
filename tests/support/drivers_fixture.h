// Shared pieces of the Drivers body tests: a concrete object around the body, a server module
// for the test executable, and BSTR helpers.
#pragma once

#include <windows.h>

#include <string>

#include "drivers.h"
#include "object_map.h"
#include "server_module.h"

// The body with the simplest IUnknown: the tests own the object and delete it themselves.
class TestDrivers : public DriversBody {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// A ServerModule whose instance handle is the given module, for the life of one test.
class ScopedServerModule {
public:
    explicit ScopedServerModule(HINSTANCE instance) { module_.Initialize(map_, instance); }
    ~ScopedServerModule() { module_.Terminate(); }

private:
    ServerModule module_;
    ObjectMapEntry map_[1] = {};
};

inline std::wstring TakeText(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
    SysFreeString(text);
    return result;
}
