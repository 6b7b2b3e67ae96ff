#include "drivers_object.h"

#include "apply_registry_script.h"
#include "brantovix_idl.h"
#include "interface_table.h"
#include "server_module.h"

namespace {

// "REGISTRY" 101: the class's registrar script.
const UINT kDriversScriptResource = 101;

// Both forms keep IOrvService at the start of the object (single inheritance from the body).
const InterfaceTableEntry kDriversInterfaces[] = {
    {&IID_IOrvService, 0},
    {&IID_IDispatch, 0},
    {nullptr, 0},
};

}   // namespace

Drivers::Drivers() : count_(0) {}

// Gives the module lock back before the body (and its list) goes.
Drivers::~Drivers() {
    UnlockModule();
}

HRESULT Drivers::QueryInterface(REFIID iid, void** out) {
    return QueryInterfaceFromTable(this, kDriversInterfaces, iid, out);
}

ULONG Drivers::AddRef() {
    return ++count_;
}

ULONG Drivers::Release() {
    ULONG count = --count_;
    if (count == 0) delete this;
    return count;
}

ContainedDrivers::ContainedDrivers() : outer(nullptr) {}

HRESULT ContainedDrivers::QueryInterface(REFIID iid, void** out) {
    // The outer object is the caller's: it is never handed a null out-parameter.
    if (!out) return E_POINTER;
    HRESULT result = outer->QueryInterface(iid, out);
    if (FAILED(result) && outer != static_cast<IUnknown*>(this)) {
        result = QueryInterfaceFromTable(this, kDriversInterfaces, iid, out);
    }
    return result;
}

ULONG ContainedDrivers::AddRef() {
    return outer->AddRef();
}

ULONG ContainedDrivers::Release() {
    return outer->Release();
}

DriversAggregate::DriversAggregate() : count_(0) {}

DriversAggregate::~DriversAggregate() {
    UnlockModule();
}

HRESULT DriversAggregate::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown)) {
        if (!out) return E_POINTER;
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return S_OK;
    }
    return QueryInterfaceFromTable(&contained, kDriversInterfaces, iid, out);
}

ULONG DriversAggregate::AddRef() {
    return ++count_;
}

ULONG DriversAggregate::Release() {
    ULONG count = --count_;
    if (count == 0) delete this;
    return count;
}

HRESULT CreateDriversInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!outer) {
        Drivers* object = new Drivers;
        if (!object) return E_OUTOFMEMORY;
        LockModule();
        HRESULT result = object->ConstructionResult();
        if (SUCCEEDED(result)) result = object->QueryInterface(iid, out);
        if (FAILED(result)) delete object;
        return result;
    }
    DriversAggregate* aggregate = new DriversAggregate;
    if (!aggregate) return E_OUTOFMEMORY;
    aggregate->contained.outer = outer;
    LockModule();
    HRESULT result = aggregate->contained.ConstructionResult();
    if (SUCCEEDED(result)) result = aggregate->QueryInterface(iid, out);
    if (FAILED(result)) delete aggregate;
    return result;
}

HRESULT UpdateDriversRegistry(BOOL registering) {
    return ApplyRegistryScript(kDriversScriptResource, registering);
}
