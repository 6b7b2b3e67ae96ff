// The class object of Brantovix.dll through its real exports: DllGetClassObject, the cached
// factory, its module-lock pairing, LockServer and DllCanUnloadNow. Every case runs twice: with
// the interlocked functions answering the new value, as on Windows 98, and only its sign, as on
// Windows 95.
#include <windows.h>

#include <gtest/gtest.h>

#include "brantovix_idl.h"
#include "interlocked_results.h"
#include "server_test_support.h"

namespace {

// A CLSID the server does not serve.
const CLSID kOtherClass = {0x3F0A52C5, 0x6D1E, 0x11D3, {0x9B, 0x27, 0x00, 0x50, 0xDA, 0x4C, 0x81, 0xE6}};
void* const kSentinel = reinterpret_cast<void*>(0x5EB7);

class ClassFactoryTest : public ::testing::TestWithParam<InterlockedResults> {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, server_.getClassObject);
        ASSERT_NE(nullptr, server_.canUnloadNow);
        ASSERT_TRUE(interlocked_.InForce());
        ASSERT_EQ(S_OK, server_.canUnloadNow());
    }
    void TearDown() override { EXPECT_EQ(S_OK, server_.canUnloadNow()) << "a module lock leaked"; }

    IClassFactory* Factory() {
        void* out = kSentinel;
        EXPECT_EQ(S_OK, server_.getClassObject(CLSID_Drivers, IID_IClassFactory, &out));
        return static_cast<IClassFactory*>(out);
    }

    MachineStateGuard machine_;
    LoadedServer server_;
    InterlockedResultsRule interlocked_{server_.module, GetParam()};   // undone before the server goes
};

TEST_P(ClassFactoryTest, UnknownClassIsNotAvailable) {
    void* out = kSentinel;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, server_.getClassObject(kOtherClass, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, server_.getClassObject(CLSID_Drivers, IID_IClassFactory, nullptr));
}

TEST_P(ClassFactoryTest, RefusedInterfaceLeavesTheFactoryCached) {
    void* out = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, server_.getClassObject(CLSID_Drivers, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(S_OK, server_.canUnloadNow());   // the cached reference alone locks nothing

    IClassFactory* first = Factory();
    IClassFactory* second = Factory();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    void* unknown = kSentinel;
    EXPECT_EQ(S_OK, first->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<void*>(first), unknown);
    static_cast<IUnknown*>(unknown)->Release();
    void* other = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IDispatch, &other));
    EXPECT_EQ(nullptr, other);
    second->Release();
    first->Release();
}

TEST_P(ClassFactoryTest, ClientReferencesKeepTheModuleLoaded) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());   // the client's reference is the second
    EXPECT_EQ(3u, factory->AddRef());
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());
    EXPECT_EQ(1u, factory->Release());   // back to the cached reference
    EXPECT_EQ(S_OK, server_.canUnloadNow());
}

TEST_P(ClassFactoryTest, LockServerCountsBothWaysAndCanGoBelowZero) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));   // one more than was taken: count -1
    factory->Release();
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
}

TEST_P(ClassFactoryTest, CreateInstanceRefusals) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IOrvService, nullptr));

    // Built (its inventory runs), refused and destroyed again.
    void* out = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);

    // Aggregation only through IUnknown: refused before anything is built.
    IUnknown* outer = factory;   // any IUnknown will do: it is never called
    out = kSentinel;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IOrvService, &out));
    EXPECT_EQ(nullptr, out);
    factory->Release();
}

TEST_P(ClassFactoryTest, CreatedObjectHoldsTheModuleUntilReleased) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    void* out = kSentinel;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IOrvService, &out));
    factory->Release();
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());
    EXPECT_EQ(0u, static_cast<IOrvService*>(out)->Release());
    EXPECT_EQ(S_OK, server_.canUnloadNow());
}

TEST_P(ClassFactoryTest, DllCanUnloadNowFollowsEveryReferenceAndLock) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "client holds the factory";
    EXPECT_EQ(3u, factory->AddRef());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "client holds the factory twice";
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "client holds the factory once";
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_OK, server_.canUnloadNow()) << "factory given back";

    factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "server locked, factory given back";

    factory = Factory();
    ASSERT_NE(nullptr, factory);
    void* first = kSentinel;
    void* second = kSentinel;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IOrvService, &first));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, &second));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "two objects alive, server unlocked, factory given back";

    EXPECT_EQ(0u, static_cast<IUnknown*>(first)->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "one object alive";
    factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(0u, static_cast<IUnknown*>(second)->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow()) << "no object alive, client holds the factory";
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_OK, server_.canUnloadNow()) << "nothing held";
}

INSTANTIATE_TEST_SUITE_P(Interlocked, ClassFactoryTest,
                         ::testing::Values(InterlockedResults::kNewValue, InterlockedResults::kSignOnly),
                         InterlockedResultsName);

}   // namespace
