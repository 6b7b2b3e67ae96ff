#include "data_list.h"
#include "handle_ledger.h"
#include "import_patch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
    SysFreeString(text);
    return result;
}

std::vector<std::wstring> NamesByIndex(const DataList& list) {
    std::vector<std::wstring> names;
    for (long i = 0; i < static_cast<long>(list.GetCount()); ++i) names.push_back(Take(list.GetNameByIndex(i)));
    return names;
}

TEST(DataList, EmptyListAnswersNothing) {
    DataList list;
    EXPECT_EQ(0u, list.GetCount());
    for (long index : {0L, 1L, -1L}) {
        EXPECT_EQ(nullptr, list.GetNameByIndex(index));
        EXPECT_EQ(nullptr, list.GetValueByIndex(index));
    }
    EXPECT_EQ(nullptr, list.GetValueByName(L""));
    EXPECT_EQ(nullptr, list.GetValueByName(nullptr));
}

TEST(DataList, LaterPairsGoDirectlyBehindTheFirst) {
    DataList list;
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) list.AddPair(name, name);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"D", L"C", L"B"}), NamesByIndex(list));
    EXPECT_EQ(4u, list.GetCount());
    EXPECT_EQ(L"A", Take(list.GetNameByIndex(-7)));
    EXPECT_EQ(L"<null>", Take(list.GetNameByIndex(4)));
    EXPECT_EQ(L"B", Take(list.GetValueByIndex(3)));
}

TEST(DataList, OnePairAnswersEveryNegativeIndex) {
    DataList list;
    list.AddPair(L"A", L"1");
    EXPECT_EQ(1u, list.GetCount());
    EXPECT_EQ(L"A", Take(list.GetNameByIndex(0)));
    EXPECT_EQ(L"1", Take(list.GetValueByIndex(-1)));
    EXPECT_EQ(L"1", Take(list.GetValueByIndex(LONG_MIN)));
    EXPECT_EQ(nullptr, list.GetNameByIndex(1));
}

TEST(DataList, FirstEqualNameInIndexOrderWins) {
    struct Case {
        std::vector<std::pair<std::wstring, std::wstring>> pairs;
        std::wstring expectedOrder;   // values by index
        std::wstring valueOfX;
    };
    const Case cases[] = {
        {{{L"X", L"1"}, {L"Y", L"2"}, {L"X", L"3"}}, L"132", L"1"},
        {{{L"Y", L"0"}, {L"X", L"1"}, {L"X", L"2"}}, L"021", L"2"},
    };
    for (const Case& c : cases) {
        DataList list;
        for (const auto& pair : c.pairs) list.AddPair(pair.first.c_str(), pair.second.c_str());
        std::wstring order;
        for (long i = 0; i < 3; ++i) order += Take(list.GetValueByIndex(i));
        EXPECT_EQ(c.expectedOrder, order);
        EXPECT_EQ(c.valueOfX, Take(list.GetValueByName(L"X")));
    }
}

TEST(DataList, NameLookupIsExactAndCaseSensitive) {
    DataList list;
    list.AddPair(L"ABC.VXD", L"04.10.00.2222");
    EXPECT_EQ(L"04.10.00.2222", Take(list.GetValueByName(L"ABC.VXD")));
    for (const wchar_t* miss : {L"abc.vxd", L"ABC.VX", L"ABC.VXD ", L""}) {
        EXPECT_EQ(nullptr, list.GetValueByName(miss)) << miss;
    }
}

TEST(DataList, AnsiPairsConvertThroughTheAnsiCodePage) {
    DataList list;
    const char name[] = "CAF\xC9.VXD";   // E acute in the ANSI code page
    list.AddAnsiPair(name, "");
    wchar_t expected[16];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, name, -1, expected, 16), 0);
    EXPECT_EQ(std::wstring(expected), Take(list.GetNameByIndex(0)));
    BSTR value = list.GetValueByIndex(0);
    ASSERT_NE(nullptr, value);   // empty, not null
    EXPECT_EQ(0u, SysStringLen(value));
    SysFreeString(value);
}

TEST(DataList, ToWideStringOfEmptyTextIsEmptyNotNull) {
    BSTR text = ToWideString("");
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(0u, SysStringLen(text));
    SysFreeString(text);
    EXPECT_EQ(L"Driver Class", Take(ToWideString("Driver Class")));
}

// Every string the list allocates (its elements', the conversions of ANSI pairs, the copies it
// hands out, which the caller frees) is freed exactly once by the time the list is gone.
HandleLedger* g_strings = nullptr;
decltype(&SysAllocString) g_realSysAllocString = nullptr;
decltype(&SysAllocStringLen) g_realSysAllocStringLen = nullptr;
decltype(&SysFreeString) g_realSysFreeString = nullptr;

BSTR WINAPI RecordSysAllocString(const OLECHAR* text) {
    BSTR copy = g_realSysAllocString(text);
    if (copy) g_strings->Opened(copy);
    return copy;
}
BSTR WINAPI RecordSysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR copy = g_realSysAllocStringLen(text, length);
    if (copy) g_strings->Opened(copy);
    return copy;
}
void WINAPI RecordSysFreeString(BSTR text) {
    if (text) g_strings->Closed(text);
    g_realSysFreeString(text);
}

TEST(DataList, EveryStringItAllocatesIsFreedOnce) {
    HandleLedger strings;
    g_strings = &strings;
    {
        ScopedImportPatch allocate("oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&RecordSysAllocString));
        ScopedImportPatch copy("oleaut32.dll", "SysAllocStringLen", reinterpret_cast<void*>(&RecordSysAllocStringLen));
        ScopedImportPatch free("oleaut32.dll", "SysFreeString", reinterpret_cast<void*>(&RecordSysFreeString));
        g_realSysAllocString = reinterpret_cast<decltype(&SysAllocString)>(allocate.previous());
        g_realSysAllocStringLen = reinterpret_cast<decltype(&SysAllocStringLen)>(copy.previous());
        g_realSysFreeString = reinterpret_cast<decltype(&SysFreeString)>(free.previous());
        ASSERT_TRUE(g_realSysAllocString && g_realSysAllocStringLen && g_realSysFreeString);
        DataList* list = new DataList;
        for (const wchar_t* name : {L"A", L"B"}) list->AddPair(name, (std::wstring(name) + L"=").c_str());
        list->AddAnsiPair("C", "C=");
        list->AddAnsiPair("D", "");
        EXPECT_EQ(4u, list->GetCount());
        EXPECT_EQ(L"C=", Take(list->GetValueByName(L"C")));
        delete list;
    }
    EXPECT_GE(strings.opens(), 13);   // eight in the elements, four converted texts, one copy
    EXPECT_EQ("", strings.Faults());
}

TEST(DataList, LongListsCountWithoutDeepRecursion) {
    DataList list;
    for (int i = 0; i < 5000; ++i) list.AddPair(L"N", L"V");
    EXPECT_EQ(5000u, list.GetCount());
}

}   // namespace
