// The Drivers class as COM objects: the body of the service with reference counting and
// QueryInterface, in two forms.
//  - Drivers: the standalone object. Its one interface pointer (its own address) answers
//    IUnknown, IDispatch and IOrvService; the count is plain (apartment-threaded class).
//  - DriversAggregate: the form created for an outer object. Its own IUnknown is the
//    non-delegating one handed to the outer object; the ContainedDrivers inside it answers
//    IOrvService and IDispatch and forwards its IUnknown to the outer object.
// Each live object, in either form, holds one module lock from creation to destruction.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "drivers.h"

class Drivers final : public DriversBody {
public:
    Drivers();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    ~Drivers() override;

private:
    ULONG count_;
};

class ContainedDrivers : public DriversBody {
public:
    ContainedDrivers();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // The controlling outer object; not reference-counted (it owns the aggregate).
    IUnknown* outer;
};

class DriversAggregate final : public IUnknown {
public:
    DriversAggregate();
    ~DriversAggregate();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    ContainedDrivers contained;

private:
    DriversAggregate(const DriversAggregate&) = delete;
    DriversAggregate& operator=(const DriversAggregate&) = delete;

    ULONG count_;
};

// Instance creator of the Drivers map entry: standalone when outer is null, aggregated
// otherwise (the class factory lets only IID_IUnknown through for an outer object). The
// construction runs the whole inventory on the caller's thread before the object is answered;
// an object whose construction failed (DriversBody::ConstructionResult) is destroyed and its
// failure returned.
HRESULT CreateDriversInstance(IUnknown* outer, REFIID iid, void** out);

// Registry-update function of the Drivers map entry: applies or reverses the registrar script.
HRESULT UpdateDriversRegistry(BOOL registering);
