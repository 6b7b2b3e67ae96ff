#include "class_factory.h"

#include "interface_table.h"
#include "interlocked.h"
#include "server_module.h"

namespace {

const InterfaceTableEntry kClassFactoryInterfaces[] = {
    {&IID_IClassFactory, 0},
    {nullptr, 0},
};

}   // namespace

ClassFactory::ClassFactory(InstanceCreator creator) : count_(0), creator_(creator) {
    InitializeCriticalSection(&countLock_);
}

ClassFactory::~ClassFactory() {
    DeleteCriticalSection(&countLock_);
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
    return QueryInterfaceFromTable(this, kClassFactoryInterfaces, iid, out);
}

// The count is read back under the count lock rather than taken from the interlocked call:
// Windows 95's InterlockedIncrement and InterlockedDecrement return only the sign of the new
// value. Every change of the count is made under the lock, so the value read there is the one
// this change made.
ULONG ClassFactory::AddRef() {
    EnterCriticalSection(&countLock_);
    InterlockedIncrement(&count_);
    LONG count = count_;
    if (count == 2) LockModule();
    LeaveCriticalSection(&countLock_);
    return static_cast<ULONG>(count);
}

ULONG ClassFactory::Release() {
    EnterCriticalSection(&countLock_);
    InterlockedDecrement(&count_);
    LONG count = count_;
    LeaveCriticalSection(&countLock_);
    if (count == 0) {
        delete this;
    } else if (count == 1) {
        UnlockModule();
    }
    return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregated object can only hand its non-delegating IUnknown to the outer object.
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, iid, out);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

HRESULT CreateClassFactory(void* context, REFIID iid, void** out) {
    ClassFactory* factory = new ClassFactory(reinterpret_cast<InstanceCreator>(context));
    if (!factory) {
        if (out) *out = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT result = factory->QueryInterface(iid, out);
    if (FAILED(result)) delete factory;
    return result;
}
