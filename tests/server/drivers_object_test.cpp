// The Drivers objects of Brantovix.dll, created through its real class factory: the standalone
// object's one interface pointer, its vtable methods and lifetime, and the aggregated form.
// Every case runs twice: with the interlocked functions answering the new value, as on
// Windows 98, and only its sign, as on Windows 95.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "brantovix_idl.h"
#include "interlocked_results.h"
#include "orv_service_checks.h"
#include "server_test_support.h"

namespace {

void* const kSentinel = reinterpret_cast<void*>(0x5EB7);
// {00000109-0000-0000-C000-000000000046}: IPersistStream, which the class does not implement.
const IID kIPersistStream = {0x00000109, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
    SysFreeString(text);
    return result;
}

// A controlling object for aggregation tests. It counts its own references; it answers
// IUnknown itself and, when delegating, every other IID from the inner object.
class OuterObject : public IUnknown {
public:
    explicit OuterObject(bool delegates) : delegates_(delegates) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        ++queries;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (delegates_ && inner) return inner->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }

    ULONG count = 1;
    int queries = 0;
    IUnknown* inner = nullptr;   // the aggregate's non-delegating IUnknown

private:
    bool delegates_;
};

class DriversObjectTest : public ::testing::TestWithParam<InterlockedResults> {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, server_.getClassObject);
        ASSERT_TRUE(interlocked_.InForce());
        void* out = nullptr;
        ASSERT_EQ(S_OK, server_.getClassObject(CLSID_Drivers, IID_IClassFactory, &out));
        factory_ = static_cast<IClassFactory*>(out);
    }
    void TearDown() override {
        if (factory_) factory_->Release();
        EXPECT_EQ(S_OK, server_.canUnloadNow()) << "an object or lock outlived the test";
    }

    MachineStateGuard machine_;
    LoadedServer server_;
    InterlockedResultsRule interlocked_{server_.module, GetParam()};   // undone before the server goes
    IClassFactory* factory_ = nullptr;
};

TEST_P(DriversObjectTest, OnePointerAnswersIUnknownIDispatchAndIOrvService) {
    void* out = kSentinel;
    ASSERT_EQ(S_OK, factory_->CreateInstance(nullptr, IID_IUnknown, &out));
    IUnknown* object = static_cast<IUnknown*>(out);

    const IID* answered[] = {&IID_IUnknown, &IID_IDispatch, &IID_IOrvService};
    for (const IID* iid : answered) {
        void* pointer = kSentinel;
        ASSERT_EQ(S_OK, object->QueryInterface(*iid, &pointer));
        EXPECT_EQ(static_cast<void*>(object), pointer);
        EXPECT_EQ(1u, static_cast<IUnknown*>(pointer)->Release());
    }
    const IID* refused[] = {&IID_IClassFactory, &kIPersistStream};
    for (const IID* iid : refused) {
        void* pointer = kSentinel;
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*iid, &pointer));
        EXPECT_EQ(nullptr, pointer);
    }
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));

    EXPECT_EQ(2u, object->AddRef());   // a plain count
    EXPECT_EQ(1u, object->Release());
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());
    EXPECT_EQ(0u, object->Release());
}

TEST_P(DriversObjectTest, VtableMethodsReadTheList) {
    void* out = nullptr;
    ASSERT_EQ(S_OK, factory_->CreateInstance(nullptr, IID_IOrvService, &out));
    IOrvService* service = static_cast<IOrvService*>(out);

    BSTR text = nullptr;
    ASSERT_EQ(S_OK, service->GetComponentInfomation(&text));
    EXPECT_EQ(L"Driver Class", Take(text));

    long size = -1;
    ASSERT_EQ(S_OK, service->GetDataListSize(&size));
    // The size is the list's: an element stands at index 0 exactly when the list is not empty.
    text = reinterpret_cast<BSTR>(kSentinel);
    ASSERT_EQ(S_OK, service->GetDataListName(0, &text));
    EXPECT_EQ(size > 0, text != nullptr) << size;
    SysFreeString(text);
    EXPECT_EQ(0, size % 2);   // a name element and a date element per file
    text = reinterpret_cast<BSTR>(kSentinel);
    EXPECT_EQ(S_OK, service->GetDataListName(size, &text));
    EXPECT_EQ(nullptr, text);
    text = reinterpret_cast<BSTR>(kSentinel);
    EXPECT_EQ(S_OK, service->GetDataListValueByName(nullptr, &text));
    EXPECT_EQ(nullptr, text);
    if (size > 0) {
        BSTR first = nullptr;
        ASSERT_EQ(S_OK, service->GetDataListName(0, &first));
        std::wstring firstName = Take(first);
        ASSERT_EQ(S_OK, service->GetDataListName(-1, &text));
        EXPECT_EQ(firstName, Take(text));
        ASSERT_EQ(S_OK, service->GetDataListName(size - 1, &text));
        EXPECT_EQ(L"DATE-" + firstName, Take(text));
    }

    BSTR name = SysAllocString(L"NAME.VXD");
    ExpectChangingMethodsNotImplemented(service, name);
    SysFreeString(name);
    long after = -1;
    EXPECT_EQ(S_OK, service->GetDataListSize(&after));
    EXPECT_EQ(size, after);

    EXPECT_EQ(0u, service->Release());
}

TEST_P(DriversObjectTest, AggregatedObjectCountsOnTheOuterObject) {
    OuterObject outer(true);
    void* out = kSentinel;
    ASSERT_EQ(S_OK, factory_->CreateInstance(&outer, IID_IUnknown, &out));
    outer.inner = static_cast<IUnknown*>(out);
    EXPECT_EQ(S_FALSE, server_.canUnloadNow());

    // The non-delegating IUnknown answers IUnknown with itself, on its own count.
    void* self = kSentinel;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, &self));
    EXPECT_EQ(static_cast<void*>(outer.inner), self);
    EXPECT_EQ(1u, outer.inner->Release());

    // IOrvService comes from the contained part, whose references go to the outer object.
    void* contained = kSentinel;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IOrvService, &contained));
    IOrvService* service = static_cast<IOrvService*>(contained);
    EXPECT_NE(static_cast<void*>(outer.inner), contained);
    EXPECT_EQ(2u, outer.count);
    EXPECT_EQ(3u, service->AddRef());
    EXPECT_EQ(2u, service->Release());

    // The contained part's QueryInterface asks the outer object first.
    int queriesBefore = outer.queries;
    void* unknown = kSentinel;
    ASSERT_EQ(S_OK, service->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<void*>(&outer), unknown);
    EXPECT_EQ(queriesBefore + 1, outer.queries);
    static_cast<IUnknown*>(unknown)->Release();
    void* dispatch = kSentinel;
    ASSERT_EQ(S_OK, service->QueryInterface(IID_IDispatch, &dispatch));
    EXPECT_EQ(contained, dispatch);   // delegated back to the aggregate
    static_cast<IUnknown*>(dispatch)->Release();

    BSTR text = nullptr;
    ASSERT_EQ(S_OK, service->GetComponentInfomation(&text));
    EXPECT_EQ(L"Driver Class", Take(text));
    EXPECT_EQ(1u, service->Release());
    EXPECT_EQ(1u, outer.count);

    EXPECT_EQ(0u, outer.inner->Release());
}

TEST_P(DriversObjectTest, ContainedPartAnswersFromItsOwnTableWhenTheOuterObjectRefuses) {
    OuterObject outer(false);
    void* out = nullptr;
    ASSERT_EQ(S_OK, factory_->CreateInstance(&outer, IID_IUnknown, &out));
    outer.inner = static_cast<IUnknown*>(out);
    void* contained = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IDispatch, &contained));
    IOrvService* service = static_cast<IOrvService*>(contained);

    void* again = kSentinel;
    ASSERT_EQ(S_OK, service->QueryInterface(IID_IOrvService, &again));
    EXPECT_EQ(contained, again);
    EXPECT_EQ(3u, outer.count);
    service->Release();
    void* refused = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, service->QueryInterface(kIPersistStream, &refused));
    EXPECT_EQ(nullptr, refused);
    // A null out-parameter is refused before the outer object is asked (this outer object
    // would write through it).
    int queriesBefore = outer.queries;
    EXPECT_EQ(E_POINTER, service->QueryInterface(IID_IOrvService, nullptr));
    EXPECT_EQ(queriesBefore, outer.queries);
    service->Release();
    EXPECT_EQ(1u, outer.count);
    EXPECT_EQ(0u, outer.inner->Release());
}

INSTANTIATE_TEST_SUITE_P(Interlocked, DriversObjectTest,
                         ::testing::Values(InterlockedResults::kNewValue, InterlockedResults::kSignOnly),
                         InterlockedResultsName);

}   // namespace
