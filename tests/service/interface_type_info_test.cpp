// Late binding of the Drivers body: IDispatch answered from IOrvService's type information,
// with the module-wide name cache, driven directly by a C++ client.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "drivers_fixture.h"
#include "file_aside.h"
#include "import_patch.h"
#include "interface_type_info.h"
#include "prepared_rows.h"

namespace {

using driver_fixtures::BuildVersionedPe;
using driver_fixtures::UtcFileTime;

// {3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}
const GUID kLibraryId = {0x3F0A52FC, 0x6D1E, 0x11D3, {0x9B, 0x27, 0x00, 0x50, 0xDA, 0x4C, 0x81, 0xE6}};

std::wstring WidePath(const char* path) {
    std::string windows = path[0] == '/' ? std::string("Z:") + path : path;
    return std::wstring(windows.begin(), windows.end());
}

HRESULT RegisterBuiltTypeLibrary() {
    std::wstring path = WidePath(TYPE_LIBRARY_FILE);
    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLib(path.c_str(), &library);
    if (FAILED(result)) return result;
    result = RegisterTypeLib(library, &path[0], nullptr);
    library->Release();
    return result;
}

void UnregisterTypeLibrary() {
    UnRegisterTypeLib(kLibraryId, 1, 0, 0, SYS_WIN32);
}

int TerminationCallbacks() {
    int count = 0;
    for (TerminationElement* e = ServerModule::Current()->terminationList; e; e = e->next) ++count;
    return count;
}

class LateBinding : public testing::Test {
protected:
    void SetUp() override {
        // Every test starts with the record unloaded, as in a newly loaded module.
        InterfaceTypeInfo::ReleaseTypeInformation(reinterpret_cast<DWORD>(&OrvServiceTypeInfo()));
        ASSERT_EQ(S_OK, RegisterBuiltTypeLibrary());
        // A body whose inventory finds two rows: the driver file is present (empty, so no
        // device opens), and two prepared files are in use.
        ASSERT_TRUE(driverFileAside_.Absent());
        HANDLE driverFile = CreateFileA(driverPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, driverFile);
        CloseHandle(driverFile);
        driverFileMade_ = true;
        ASSERT_TRUE(rows_.Add("IOS.VXD", BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 4, 23, 23, 30), true));
        ASSERT_TRUE(
            rows_.Add("VXDLDR.DRV", BuildVersionedPe({4, 10, 0, 1998}), UtcFileTime(1998, 5, 11, 23, 30), true));
        rows_.List();
        drivers_.reset(new TestDrivers);
        ASSERT_EQ(S_OK, drivers_->ConstructionResult());
    }
    void TearDown() override {
        drivers_.reset();
        if (driverFileMade_) DeleteFileA(driverPath_.c_str());
        UnregisterTypeLibrary();
    }

    IDispatch* Dispatch() { return drivers_.get(); }

    HRESULT IdsOfNames(std::vector<std::wstring> names, std::vector<DISPID>& ids) {
        std::vector<LPOLESTR> pointers;
        for (std::wstring& name : names) pointers.push_back(&name[0]);
        ids.assign(names.size(), 12345);
        return Dispatch()->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(names.size()),
                                         LOCALE_USER_DEFAULT, ids.data());
    }

    ScopedServerModule module_{GetModuleHandleA("kernel32.dll")};   // no driver resource to deploy
    const std::string driverPath_ = driver_fixtures::GetDriverDirectories().system + "\\ORV_DE.VXD";
    FileAside driverFileAside_{driverPath_};
    bool driverFileMade_ = false;
    PreparedRows rows_;
    std::unique_ptr<TestDrivers> drivers_;
};

// Defined first, so that it makes the first load of this process: that load registers with the
// module a release of the record at termination; a later load (after an unload) does not
// register it again.
TEST_F(LateBinding, ReleaseRoutineIsRegisteredOnceForTheModulesLife) {
    ASSERT_EQ(0, TerminationCallbacks());
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    info->Release();
    ASSERT_EQ(1, TerminationCallbacks());
    // What the module runs at termination releases this record's type information and names.
    ASSERT_NE(nullptr, OrvServiceTypeInfo().typeInfo);
    const TerminationElement* element = ServerModule::Current()->terminationList;
    element->callback(element->context);
    EXPECT_EQ(nullptr, OrvServiceTypeInfo().typeInfo);
    EXPECT_EQ(nullptr, OrvServiceTypeInfo().nameCache);
    EXPECT_EQ(0, OrvServiceTypeInfo().nameCacheCount);

    ASSERT_EQ(S_OK, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    info->Release();
    EXPECT_EQ(1, TerminationCallbacks());
}

TEST_F(LateBinding, OneTypeInformationForEveryIndex) {
    UINT count = 0;
    EXPECT_EQ(S_OK, Dispatch()->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    ITypeInfo* first = nullptr;
    ITypeInfo* seventh = nullptr;
    ASSERT_EQ(S_OK, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, &first));
    ASSERT_EQ(S_OK, Dispatch()->GetTypeInfo(7, LOCALE_USER_DEFAULT, &seventh));
    EXPECT_EQ(first, seventh);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(IID_IOrvService, attributes->guid));
    first->ReleaseTypeAttr(attributes);
    first->Release();
    seventh->Release();
    EXPECT_EQ(E_POINTER, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr));
}

TEST_F(LateBinding, NameCacheHoldsEveryMemberOfTheInterface) {
    std::vector<DISPID> ids;
    ASSERT_EQ(S_OK, IdsOfNames({L"GetDataListSize"}, ids));
    EXPECT_EQ(2, ids[0]);

    const InterfaceTypeInfo& record = OrvServiceTypeInfo();
    std::vector<std::wstring> cached;
    for (int i = 0; i < record.nameCacheCount; ++i) {
        const NameCacheEntry& entry = record.nameCache[i];
        if (!entry.name || entry.dispId < 1 || entry.dispId > 10) continue;
        ASSERT_EQ(static_cast<int>(SysStringLen(entry.name)), entry.length);
        cached.resize(11);
        cached[entry.dispId] = entry.name;
    }
    ASSERT_EQ(11u, cached.size());
    EXPECT_EQ(L"GetComponentInfomation", cached[1]);
    EXPECT_EQ(L"GetDataListValueByName", cached[5]);
    EXPECT_EQ(L"LogDataListToFile", cached[10]);
}

TEST_F(LateBinding, ExactNamesAreAnsweredByTheCacheAlone) {
    std::vector<DISPID> ids;
    ASSERT_EQ(S_OK, IdsOfNames({L"GetDataListSize"}, ids));
    // Mark the cached entry: an answer of the mark can only have come from the cache.
    InterfaceTypeInfo& record = OrvServiceTypeInfo();
    for (int i = 0; i < record.nameCacheCount; ++i) {
        if (record.nameCache[i].dispId == 2) record.nameCache[i].dispId = 0x4242;
    }
    ASSERT_EQ(S_OK, IdsOfNames({L"GetDataListSize"}, ids));
    EXPECT_EQ(0x4242, ids[0]);
    ASSERT_EQ(S_OK, IdsOfNames({L"GETDATALISTSIZE"}, ids));
    EXPECT_EQ(2, ids[0]);   // another case misses the cache; the type information answers
}

TEST_F(LateBinding, NamesResolveFromTheCacheOrTheTypeInformation) {
    const struct {
        std::vector<std::wstring> names;
        HRESULT result;
        std::vector<DISPID> ids;
    } cases[] = {
        {{L"GetDataListSize"}, S_OK, {2}},   // exact: from the cache
        {{L"getdatalistsize"}, S_OK, {2}},   // other case: the type information
        {{L"GetComponentInfomation"}, S_OK, {1}},
        {{L"GetDataListName", L"ListIndex"}, S_OK, {3, 0}},   // member, then its parameter
        {{L"NoSuchMethod"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
    };
    for (const auto& c : cases) {
        std::vector<DISPID> ids;
        EXPECT_EQ(c.result, IdsOfNames(c.names, ids)) << c.names[0];
        EXPECT_EQ(c.ids, ids) << c.names[0];
    }
}

TEST_F(LateBinding, InvokeReachesTheVtableMethods) {
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(S_OK,
              Dispatch()->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
    long size = 0;
    drivers_->GetDataListSize(&size);
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(size, V_I4(&result));
    EXPECT_EQ(4, size);

    VARIANT index;
    V_VT(&index) = VT_I4;
    V_I4(&index) = 1;
    DISPPARAMS one = {&index, nullptr, 1, 0};
    ASSERT_EQ(S_OK,
              Dispatch()->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    BSTR early = nullptr;
    drivers_->GetDataListName(1, &early);
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    EXPECT_EQ(TakeText(early), std::wstring(V_BSTR(&result)));
    EXPECT_EQ(L"DATE-" + rows_.WideName("VXDLDR.DRV"), std::wstring(V_BSTR(&result)));
    VariantClear(&result);
}

TEST_F(LateBinding, InvokeReturnsTheTypeInformationsCodeForNotImplemented) {
    VARIANT arguments[2];
    V_VT(&arguments[0]) = VT_BSTR;
    V_BSTR(&arguments[0]) = SysAllocString(L"value");
    V_VT(&arguments[1]) = VT_BSTR;
    V_BSTR(&arguments[1]) = SysAllocString(L"NAME");
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    EXCEPINFO ours = {}, direct = {};
    HRESULT viaObject =
        Dispatch()->Invoke(6, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &ours, nullptr);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    HRESULT viaTypeInfo =
        info->Invoke(static_cast<IOrvService*>(drivers_.get()), 6, DISPATCH_METHOD, &params, nullptr, &direct, nullptr);
    info->Release();
    EXPECT_EQ(viaTypeInfo, viaObject);
    EXPECT_TRUE(viaObject == E_NOTIMPL || (viaObject == DISP_E_EXCEPTION && ours.scode == E_NOTIMPL))
        << std::hex << viaObject;
    SysFreeString(ours.bstrSource);
    SysFreeString(ours.bstrDescription);
    SysFreeString(ours.bstrHelpFile);
    SysFreeString(direct.bstrSource);
    SysFreeString(direct.bstrDescription);
    SysFreeString(direct.bstrHelpFile);
    VariantClear(&arguments[0]);
    VariantClear(&arguments[1]);
}

TEST_F(LateBinding, UnregisteredLibraryFailsDispatchEveryTimeWhileTheVtableWorks) {
    UnregisterTypeLibrary();
    ITypeLib* probe = nullptr;
    HRESULT loadCode = LoadRegTypeLib(kLibraryId, 1, 0, LOCALE_USER_DEFAULT, &probe);
    ASSERT_TRUE(FAILED(loadCode));

    for (int attempt = 0; attempt < 2; ++attempt) {
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
        EXPECT_EQ(loadCode, Dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
        EXPECT_EQ(nullptr, info);
        std::vector<DISPID> ids;
        EXPECT_EQ(loadCode, IdsOfNames({L"GetDataListSize"}, ids));
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(loadCode, Dispatch()->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result,
                                               nullptr, nullptr));
    }
    long size = 0;
    EXPECT_EQ(S_OK, drivers_->GetDataListSize(&size));
    EXPECT_EQ(4, size);

    // Registered again, the next call loads it.
    ASSERT_EQ(S_OK, RegisterBuiltTypeLibrary());
    std::vector<DISPID> ids;
    EXPECT_EQ(S_OK, IdsOfNames({L"GetDataListSize"}, ids));
}

// The library load of the first caller is slowed down so that the second caller arrives
// while it runs: the second finds the information loaded once it holds the lock, and the
// library is loaded once.
LONG g_libraryLoads = 0;
decltype(&LoadRegTypeLib) g_realLoadRegTypeLib = nullptr;

HRESULT WINAPI SlowLoadRegTypeLib(REFGUID library, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
    InterlockedIncrement(&g_libraryLoads);
    Sleep(200);
    return g_realLoadRegTypeLib(library, major, minor, lcid, out);
}

TEST_F(LateBinding, TwoThreadsAskingFirstShareOneLoad) {
    ScopedImportPatch load("oleaut32.dll", "LoadRegTypeLib", reinterpret_cast<void*>(&SlowLoadRegTypeLib));
    g_realLoadRegTypeLib = reinterpret_cast<decltype(&LoadRegTypeLib)>(load.previous());
    ASSERT_NE(nullptr, g_realLoadRegTypeLib);
    g_libraryLoads = 0;

    HRESULT results[2] = {E_FAIL, E_FAIL};
    DISPID ids[2] = {0, 0};
    auto ask = [this](HRESULT* result, DISPID* id) {
        wchar_t name[] = L"GetDataListValueByName";
        LPOLESTR names[] = {name};
        *result = Dispatch()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    };
    std::thread first(ask, &results[0], &ids[0]);
    Sleep(50);   // the first is inside the slowed load by now
    std::thread second(ask, &results[1], &ids[1]);
    first.join();
    second.join();
    EXPECT_EQ(S_OK, results[0]);
    EXPECT_EQ(S_OK, results[1]);
    EXPECT_EQ(5, ids[0]);
    EXPECT_EQ(5, ids[1]);
    EXPECT_EQ(1, g_libraryLoads);
    EXPECT_NE(nullptr, OrvServiceTypeInfo().typeInfo);
    EXPECT_LE(TerminationCallbacks(), 1);   // the release routine is registered once per module
}

}   // namespace
