// The type library that Brantovix.dll carries as "TYPELIB" 1, read back through the platform's
// type library functions, item by item.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "brantovix_idl.h"
#include "server_test_support.h"

namespace {

// stdole2.tlb, the source of IDispatch: {00020430-0000-0000-C000-000000000046} 2.0.
const GUID kStdOleLibrary = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

const USHORT kInTypeFlags = PARAMFLAG_FIN;
const USHORT kRetvalTypeFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

struct Parameter {
    const wchar_t* name;
    VARTYPE type;      // VT_I4, VT_BSTR, or VT_PTR to pointee
    VARTYPE pointee;   // for VT_PTR
    USHORT flags;
};

struct Method {
    MEMBERID dispId;
    const wchar_t* name;
    int parameterCount;
    Parameter parameters[2];
};

const Method kMethods[] = {
    {1, L"GetComponentInfomation", 1, {{L"Information", VT_PTR, VT_BSTR, kRetvalTypeFlags}}},
    {2, L"GetDataListSize", 1, {{L"Size", VT_PTR, VT_I4, kRetvalTypeFlags}}},
    {3,
     L"GetDataListName",
     2,
     {{L"ListIndex", VT_I4, VT_EMPTY, kInTypeFlags}, {L"Name", VT_PTR, VT_BSTR, kRetvalTypeFlags}}},
    {4,
     L"GetDataListValueByIndex",
     2,
     {{L"ListIndex", VT_I4, VT_EMPTY, kInTypeFlags}, {L"Value", VT_PTR, VT_BSTR, kRetvalTypeFlags}}},
    {5,
     L"GetDataListValueByName",
     2,
     {{L"Name", VT_BSTR, VT_EMPTY, kInTypeFlags}, {L"Value", VT_PTR, VT_BSTR, kRetvalTypeFlags}}},
    {6,
     L"AddDataElement",
     2,
     {{L"Name", VT_BSTR, VT_EMPTY, kInTypeFlags}, {L"Value", VT_BSTR, VT_EMPTY, kInTypeFlags}}},
    {7, L"RemoveDataElementByIndex", 1, {{L"ListIndex", VT_I4, VT_EMPTY, kInTypeFlags}}},
    {8, L"RemoveDataElementByName", 1, {{L"Name", VT_BSTR, VT_EMPTY, kInTypeFlags}}},
    {9,
     L"SetDataListValue",
     2,
     {{L"ListIndex", VT_I4, VT_EMPTY, kInTypeFlags}, {L"Value", VT_BSTR, VT_EMPTY, kInTypeFlags}}},
    {10, L"LogDataListToFile", 1, {{L"FileName", VT_BSTR, VT_EMPTY, kInTypeFlags}}},
};

std::wstring Text(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : L"(null)";
}

struct Documentation {
    std::wstring name, doc;
    DWORD helpContext = 99;
    bool helpFileNull = false;
};

Documentation DocumentationOf(ITypeInfo* info, MEMBERID member) {
    BSTR name = nullptr, doc = nullptr, helpFile = reinterpret_cast<BSTR>(1);
    Documentation result;
    EXPECT_EQ(S_OK, info->GetDocumentation(member, &name, &doc, &result.helpContext, &helpFile));
    result.name = Text(name);
    result.doc = Text(doc);
    result.helpFileNull = helpFile == nullptr;
    SysFreeString(name);
    SysFreeString(doc);
    if (helpFile != reinterpret_cast<BSTR>(1)) SysFreeString(helpFile);
    return result;
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring path = Widen(ServerDllPath());
        ASSERT_EQ(S_OK, LoadTypeLib(path.c_str(), &library_));
    }
    void TearDown() override {
        if (library_) library_->Release();
    }

    ITypeInfo* Info(UINT index) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(S_OK, library_->GetTypeInfo(index, &info));
        return info;
    }

    // The vtable part of the dual interface (the library holds its dispatch part).
    ITypeInfo* InterfacePart() {
        ITypeInfo* dispatchPart = Info(1);
        if (!dispatchPart) return nullptr;
        HREFTYPE href = 0;
        ITypeInfo* vtablePart = nullptr;
        EXPECT_EQ(S_OK, dispatchPart->GetRefTypeOfImplType(static_cast<UINT>(-1), &href));
        EXPECT_EQ(S_OK, dispatchPart->GetRefTypeInfo(href, &vtablePart));
        dispatchPart->Release();
        return vtablePart;
    }

    ITypeLib* library_ = nullptr;
};

TEST_F(TypeLibrary, LibraryAttributesAndDocumentation) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library_->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(LIBID_BRANTOVIXLib, attributes->guid));
    // {3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}
    const GUID expected = {0x3F0A52FC, 0x6D1E, 0x11D3, {0x9B, 0x27, 0x00, 0x50, 0xDA, 0x4C, 0x81, 0xE6}};
    EXPECT_TRUE(IsEqualGUID(expected, attributes->guid));
    EXPECT_EQ(0u, attributes->lcid);
    EXPECT_EQ(SYS_WIN32, attributes->syskind);
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    // No declared library flags; the platform adds LIBFLAG_FHASDISKIMAGE to a library it
    // loaded from a file.
    EXPECT_EQ(0, attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    library_->ReleaseTLibAttr(attributes);

    BSTR name = nullptr, doc = nullptr, helpFile = reinterpret_cast<BSTR>(1);
    DWORD helpContext = 99;
    ASSERT_EQ(S_OK, library_->GetDocumentation(-1, &name, &doc, &helpContext, &helpFile));
    EXPECT_EQ(L"BRANTOVIXLib", Text(name));
    EXPECT_EQ(L"Brantovix 1.0 Type Library", Text(doc));
    EXPECT_EQ(0u, helpContext);
    EXPECT_EQ(nullptr, helpFile);
    SysFreeString(name);
    SysFreeString(doc);

    ASSERT_EQ(2u, library_->GetTypeInfoCount());
}

TEST(TypeLibraryResource, IsTypelibOneInUsEnglishWithNoLibraryFlags) {
    HMODULE module = LoadLibraryExA(ServerDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC resource = FindResourceExA(module, "TYPELIB", MAKEINTRESOURCEA(1), 1033);
    ASSERT_NE(nullptr, resource);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(nullptr, bytes);
    ASSERT_GE(SizeofResource(module, resource), 0x20u);
    // Type library header: "MSFT" at 0, the library's flags as a DWORD at offset 0x1C.
    EXPECT_EQ(0, memcmp(bytes, "MSFT", 4));
    DWORD flags = 0xFFFFFFFF;
    memcpy(&flags, bytes + 0x1C, sizeof(flags));
    EXPECT_EQ(0u, flags);
    FreeLibrary(module);
}

TEST_F(TypeLibrary, CoclassDriversComesFirstAndIsCreatableWithDefaultInterface) {
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(S_OK, library_->GetTypeInfoType(0, &kind));
    EXPECT_EQ(TKIND_COCLASS, kind);

    ITypeInfo* coclass = Info(0);
    ASSERT_NE(nullptr, coclass);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(CLSID_Drivers, attributes->guid));
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attributes->wTypeFlags);
    EXPECT_EQ(0, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(1, attributes->cImplTypes);
    coclass->ReleaseTypeAttr(attributes);

    Documentation doc = DocumentationOf(coclass, MEMBERID_NIL);
    EXPECT_EQ(L"Drivers", doc.name);
    EXPECT_EQ(L"Drivers Class", doc.doc);

    INT implFlags = -1;
    ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(0, &implFlags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, implFlags);
    HREFTYPE href = 0;
    ITypeInfo* implemented = nullptr;
    ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &href));
    ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(href, &implemented));
    EXPECT_EQ(L"IOrvService", DocumentationOf(implemented, MEMBERID_NIL).name);
    implemented->Release();
    coclass->Release();
}

TEST_F(TypeLibrary, InterfaceIOrvServiceIsDualOverIDispatchFromStdole2) {
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(S_OK, library_->GetTypeInfoType(1, &kind));
    EXPECT_EQ(TKIND_DISPATCH, kind);   // a dual interface is listed by its dispatch part

    ITypeInfo* info = InterfacePart();
    ASSERT_NE(nullptr, info);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_INTERFACE, attributes->typekind);
    EXPECT_TRUE(IsEqualGUID(IID_IOrvService, attributes->guid));
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, attributes->wTypeFlags);
    EXPECT_EQ(0, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(10, attributes->cFuncs);
    EXPECT_EQ(17 * sizeof(void*), attributes->cbSizeVft);
    EXPECT_EQ(1, attributes->cImplTypes);
    info->ReleaseTypeAttr(attributes);

    Documentation doc = DocumentationOf(info, MEMBERID_NIL);
    EXPECT_EQ(L"IOrvService", doc.name);
    EXPECT_EQ(L"IOrvService Interface", doc.doc);

    HREFTYPE href = 0;
    ITypeInfo* base = nullptr;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &href));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(href, &base));
    EXPECT_EQ(L"IDispatch", DocumentationOf(base, MEMBERID_NIL).name);
    ITypeLib* baseLibrary = nullptr;
    UINT index = 0;
    ASSERT_EQ(S_OK, base->GetContainingTypeLib(&baseLibrary, &index));
    TLIBATTR* baseAttributes = nullptr;
    ASSERT_EQ(S_OK, baseLibrary->GetLibAttr(&baseAttributes));
    EXPECT_TRUE(IsEqualGUID(kStdOleLibrary, baseAttributes->guid));
    EXPECT_EQ(2, baseAttributes->wMajorVerNum);
    EXPECT_EQ(0, baseAttributes->wMinorVerNum);
    baseLibrary->ReleaseTLibAttr(baseAttributes);
    baseLibrary->Release();
    base->Release();
    info->Release();
}

TEST_F(TypeLibrary, TenMethodsWithTheirDispIdsSlotsParametersAndHelpStrings) {
    ITypeInfo* info = InterfacePart();
    ASSERT_NE(nullptr, info);
    for (UINT i = 0; i < 10; ++i) {
        const Method& method = kMethods[i];
        SCOPED_TRACE(testing::Message() << "method " << i);
        FUNCDESC* function = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &function));
        EXPECT_EQ(method.dispId, function->memid);
        EXPECT_EQ(FUNC_PUREVIRTUAL, function->funckind);
        EXPECT_EQ(INVOKE_FUNC, function->invkind);
        EXPECT_EQ(CC_STDCALL, function->callconv);
        EXPECT_EQ(VT_HRESULT, function->elemdescFunc.tdesc.vt);
        EXPECT_EQ(0, function->wFuncFlags);
        EXPECT_EQ(0, function->cParamsOpt);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), function->oVft);
        ASSERT_EQ(method.parameterCount, function->cParams);

        BSTR names[3] = {};
        UINT nameCount = 0;
        ASSERT_EQ(S_OK, info->GetNames(function->memid, names, 3, &nameCount));
        ASSERT_EQ(static_cast<UINT>(method.parameterCount + 1), nameCount);
        EXPECT_EQ(method.name, Text(names[0]));
        for (int p = 0; p < method.parameterCount; ++p) {
            const Parameter& expected = method.parameters[p];
            const ELEMDESC& actual = function->lprgelemdescParam[p];
            EXPECT_EQ(expected.name, Text(names[p + 1]));
            EXPECT_EQ(expected.flags, actual.paramdesc.wParamFlags);
            EXPECT_EQ(expected.type, actual.tdesc.vt);
            if (expected.type == VT_PTR && actual.tdesc.vt == VT_PTR) {
                EXPECT_EQ(expected.pointee, actual.tdesc.lptdesc->vt);
            }
        }
        for (UINT n = 0; n < nameCount; ++n) SysFreeString(names[n]);

        Documentation doc = DocumentationOf(info, function->memid);
        EXPECT_EQ(std::wstring(L"method ") + method.name, doc.doc);
        EXPECT_EQ(0u, doc.helpContext);
        info->ReleaseFuncDesc(function);
    }
    info->Release();
}

}   // namespace
