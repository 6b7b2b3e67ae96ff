// The placeholders of a registrar script: the replacement map (copies, growth, lookup by name
// without regard to case, allocation failures) and the substitution of "%name%" and "%%".
#include <gtest/gtest.h>

#include <wchar.h>

#include <string>

#include "placeholder_substitution.h"
#include "replacement_map.h"
#include "script_host_environment.h"

namespace {

const wchar_t kModulePath[] = L"C:\\Program Files\\Orvane\\Brantovix.dll";

class PlaceholderSubstitution : public ::testing::Test {
protected:
    void SetUp() override {
        FailTaskMemoryAfter(-1);
        ASSERT_EQ(0, replacements.AddQuoted(L"Module", kModulePath));
    }

    ReplacementMap replacements;
    HostCodePage codePage;
};

TEST_F(PlaceholderSubstitution, ReplacesNamesAndDoubledPercentSigns) {
    ASSERT_EQ(0, replacements.Add(L"Second", L"2nd"));
    ASSERT_EQ(0, replacements.Add(L"module", L"shadowed: the first pair of a name wins"));
    TaskBuffer<char> output;
    ASSERT_EQ(kScriptSucceeded,
              SubstitutePlaceholders("%%MODULE%% %SECOND%%Module%%% 50%%", replacements, codePage, &output));
    EXPECT_STREQ("%MODULE% 2ndC:\\Program Files\\Orvane\\Brantovix.dll% 50%", output.get());
}

TEST_F(PlaceholderSubstitution, FailuresLeaveNoOutput) {
    const struct {
        const char* text;
        ScriptResult result;
    } cases[] = {
        {"%aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa%", kScriptFailed},     // a name of 32 bytes
        {"%aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa%", kScriptException},   // 31 bytes, not in the map
        {"tail %", kScriptException},                              // never closed
    };
    for (const auto& c : cases) {
        int blocks = TaskMemoryBlocks().stillOpen();
        TaskBuffer<char> output(static_cast<char*>(TaskMemAlloc(1)));
        EXPECT_EQ(c.result, SubstitutePlaceholders(c.text, replacements, codePage, &output)) << c.text;
        EXPECT_EQ(nullptr, output.get()) << c.text;
        EXPECT_EQ(blocks, TaskMemoryBlocks().stillOpen()) << c.text;
    }
}

TEST_F(PlaceholderSubstitution, OutputGrows) {
    std::wstring longValue(5000, L'v');
    ASSERT_EQ(0, replacements.Add(L"Long", longValue.c_str()));
    TaskBuffer<char> output;
    ASSERT_EQ(kScriptSucceeded, SubstitutePlaceholders("%LONG%%LONG%", replacements, codePage, &output));
    EXPECT_EQ(std::string(10000, 'v'), output.get());
}

TEST(ReplacementMap, GrowsAndFindsByNameWithoutCase) {
    FailTaskMemoryAfter(-1);
    HostCodePage codePage;
    ReplacementMap map;
    for (int i = 0; i < 25; ++i) {
        wchar_t name[16];
        wchar_t value[16];
        swprintf(name, 16, L"Name%d", i);
        swprintf(value, 16, L"value %d", i);
        ASSERT_EQ(0, map.Add(name, value));
    }
    ASSERT_EQ(0, map.Add(L"NAME3", L"second of its name"));
    EXPECT_EQ(26u, map.Count());
    EXPECT_STREQ(L"value 0", map.Find("name0", codePage));
    EXPECT_STREQ(L"value 3", map.Find("nAmE3", codePage));
    EXPECT_STREQ(L"value 24", map.Find("NAME24", codePage));
    EXPECT_EQ(nullptr, map.Find("Name25", codePage));
    map.Clear();
    EXPECT_EQ(0u, map.Count());
    EXPECT_EQ(nullptr, map.Find("name0", codePage));
}

TEST(ReplacementMap, FailedAllocationLeavesTheMapUnchanged) {
    HostCodePage codePage;
    for (int allowed = 0; allowed < 4; ++allowed) {
        ReplacementMap map;
        FailTaskMemoryAfter(-1);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(0, map.Add(L"Filler", L"x"));
        int blocks = TaskMemoryBlocks().stillOpen();
        FailTaskMemoryAfter(allowed);
        // Name copy, value copy, pair, and the array doubled from 10 to 20.
        EXPECT_EQ(kScriptOutOfMemory, map.AddQuoted(L"Module", L"it's")) << allowed;
        FailTaskMemoryAfter(-1);
        EXPECT_EQ(10u, map.Count());
        EXPECT_EQ(nullptr, map.Find("Module", codePage));
        EXPECT_EQ(blocks, TaskMemoryBlocks().stillOpen()) << allowed;
    }
}

}   // namespace
