// ServerModule on an object map of the test's own: class objects created once per entry and
// released at detach, and termination callbacks run newest first.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "object_map.h"
#include "server_module.h"
#include "test_handles.h"

namespace {

const CLSID kServedClass = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID kCreatorlessClass = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};

// A class object that records its references.
class CountingClassObject : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, IID_IUnknown)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    ULONG count = 0;
};

CountingClassObject g_classObject;
int g_creations = 0;
std::vector<DWORD> g_terminations;

HRESULT CreateCountingClassObject(void*, REFIID iid, void** out) {
    ++g_creations;
    return g_classObject.QueryInterface(iid, out);
}
HRESULT FailingCreator(void*, REFIID, void** out) {
    *out = nullptr;
    return E_OUTOFMEMORY;
}
// Slow enough that a second caller arrives while the first is still creating.
HRESULT CreateSlowly(void* context, REFIID iid, void** out) {
    Sleep(100);
    return CreateCountingClassObject(context, iid, out);
}
void RecordTermination(DWORD context) {
    g_terminations.push_back(context);
}

TEST(ServerModule, ClassObjectIsCreatedOnceCachedAndReleasedAtDetach) {
    ObjectMapEntry map[] = {
        {&kCreatorlessClass, nullptr, nullptr, nullptr, nullptr},
        {&kServedClass, nullptr, CreateCountingClassObject, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    g_creations = 0;
    ServerModule module;
    module.Initialize(map, GetModuleHandleA(nullptr));
    EXPECT_EQ(&module, ServerModule::Current());

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module.GetClassObject(kCreatorlessClass, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    for (int call = 0; call < 3; ++call) {
        ASSERT_EQ(S_OK, module.GetClassObject(kServedClass, IID_IUnknown, &out));
        EXPECT_EQ(static_cast<void*>(&g_classObject), out);
        g_classObject.Release();
    }
    EXPECT_EQ(1, g_creations);
    EXPECT_EQ(1u, g_classObject.count);   // the cached reference
    EXPECT_EQ(E_NOINTERFACE, module.GetClassObject(kServedClass, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);

    module.Terminate();
    EXPECT_EQ(0u, g_classObject.count);
    EXPECT_EQ(nullptr, map[1].classObject);
}

TEST(ServerModule, FailedCreationIsReturnedAndNothingIsCached) {
    ObjectMapEntry map[] = {
        {&kServedClass, nullptr, FailingCreator, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    ServerModule module;
    module.Initialize(map, GetModuleHandleA(nullptr));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, module.GetClassObject(kServedClass, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, map[0].classObject);
    EXPECT_EQ(E_POINTER, module.GetClassObject(kServedClass, IID_IUnknown, nullptr));
    module.Terminate();
}

struct ConcurrentCall {
    ServerModule* module;
    HANDLE start;
    void* out;
    HRESULT result;
};

DWORD WINAPI GetClassObjectWhenStarted(void* parameter) {
    ConcurrentCall* call = static_cast<ConcurrentCall*>(parameter);
    WaitForSingleObject(call->start, INFINITE);
    call->result = call->module->GetClassObject(kServedClass, IID_IUnknown, &call->out);
    return 0;
}

TEST(ServerModule, ConcurrentFirstCallersShareOneClassObject) {
    ObjectMapEntry map[] = {
        {&kServedClass, nullptr, CreateSlowly, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    g_creations = 0;
    ServerModule module;
    module.Initialize(map, GetModuleHandleA(nullptr));
    const KernelObject start(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(start);
    ConcurrentCall calls[2] = {{&module, start.get(), nullptr, E_FAIL}, {&module, start.get(), nullptr, E_FAIL}};
    KernelObject threads[2];
    HANDLE waited[2];
    for (int i = 0; i < 2; ++i) {
        threads[i].reset(CreateThread(nullptr, 0, GetClassObjectWhenStarted, &calls[i], 0, nullptr));
        ASSERT_TRUE(threads[i]);
        waited[i] = threads[i].get();
    }
    SetEvent(start.get());
    WaitForMultipleObjects(2, waited, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(S_OK, calls[i].result);
        EXPECT_EQ(static_cast<void*>(&g_classObject), calls[i].out);
        g_classObject.Release();
    }
    EXPECT_EQ(1, g_creations);
    module.Terminate();
    EXPECT_EQ(0u, g_classObject.count);
}

TEST(ServerModule, TerminationCallbacksRunNewestFirstAndLocksCountBothWays) {
    ObjectMapEntry map[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
    ServerModule module;
    module.Initialize(map, GetModuleHandleA(nullptr));
    EXPECT_EQ(S_OK, module.AddTerminationCallback(RecordTermination, 1));
    EXPECT_EQ(S_OK, module.AddTerminationCallback(RecordTermination, 2));
    module.Lock();
    module.Lock();
    module.Unlock();
    EXPECT_EQ(1, module.LockCount());
    // The helpers that objects use reach the current module.
    LockModule();
    EXPECT_EQ(2, module.LockCount());
    UnlockModule();
    UnlockModule();
    EXPECT_EQ(0, module.LockCount());
    g_terminations.clear();
    module.Terminate();
    EXPECT_EQ((std::vector<DWORD>{2, 1}), g_terminations);
}

}   // namespace
