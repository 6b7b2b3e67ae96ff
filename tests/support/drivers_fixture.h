// Shared pieces of the Drivers body tests: a concrete object around the body, a server module
// for the test executable, and BSTR helpers.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "driver_inventory.h"
#include "drivers.h"
#include "object_map.h"
#include "server_module.h"

// The body with the simplest IUnknown: the tests own the object and delete it themselves.
class TestDrivers : public DriversBody {
public:
    using DriversBody::AddInventoryRows;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// Rows a test chooses, compacted as a real run leaves them, for an inventory that answers for
// them: DriverInventory inventory(rows.Finish()).
class ChosenRows {
public:
    void Add(const char* name, const char* stamp, WORD year, WORD month, WORD day, bool active) {
        SYSTEMTIME time = {};
        time.wYear = year;
        time.wMonth = month;
        time.wDay = day;
        time.wHour = 23;
        time.wMinute = 30;
        FILETIME lastWrite;
        SystemTimeToFileTime(&time, &lastWrite);
        std::string path = std::string("C:\\WINDOWS\\SYSTEM\\") + name;
        if (!table_.AddItem(name, path.c_str(), lastWrite.dwLowDateTime, lastWrite.dwHighDateTime)) return;
        DriverItem& row = table_.Row(table_.Count() - 1);
        lstrcpyA(row.versionStamp, stamp);
        row.active = active ? 1 : 0;
    }
    DriverTable Finish() {
        table_.Compact();
        return std::move(table_);
    }

private:
    DriverTable table_;
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
