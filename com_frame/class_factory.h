// The class object of a map entry. Its reference count ties the module lock to outside
// references only: the entry's cached reference (the first) never keeps the library loaded;
// every reference beyond it does (the module is locked when the count reaches 2 and unlocked
// when it falls back to 1).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "object_map.h"

// Class-object creator of the object map: the context is the entry's instance creator. Called
// with IID_IUnknown by the module, it leaves the new factory with one reference, the cached one.
HRESULT CreateClassFactory(void* context, REFIID iid, void** out);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(InstanceCreator creator);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    friend HRESULT CreateClassFactory(void* context, REFIID iid, void** out);
    ~ClassFactory();
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    volatile LONG count_;
    InstanceCreator creator_;
    CRITICAL_SECTION countLock_;   // held around every change of count_
};
