// The "D" value conversion on the platform: the system's VarUI4FromStr, looked up at run time,
// and the conversion of the module's own (decimal_dword) that takes its place where the
// system's Automation runtime lacks it. For every text a script gives a "D" value, decimal
// digits with blanks around them, both give the same result.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "import_patch.h"
#include "win32_script_code_page.h"

namespace {

struct Conversion {
    int32_t status = 1;
    uint32_t value = 0xDEADBEEF;
    bool operator==(const Conversion& other) const { return status == other.status && value == other.value; }
};

std::ostream& operator<<(std::ostream& out, const Conversion& c) {
    char text[48];
    std::snprintf(text, sizeof text, "status 0x%08lX value %lu", static_cast<unsigned long>(c.status),
                  static_cast<unsigned long>(c.value));
    return out << text;
}

Conversion Convert(const Win32ScriptCodePage& codePage, const char* text) {
    Conversion c;
    c.status = codePage.ParseUnsigned(text, &c.value);
    return c;
}

// The product imports from oleaut32, so the system's conversion finds it loaded; this test
// program imports nothing from it, so it loads it itself.
const HMODULE kAutomation = LoadLibraryA("oleaut32.dll");

const Win32ScriptCodePage kSystem(Win32ScriptCodePage::NumberConversion::kSystemWherePresent);
const Win32ScriptCodePage kOwn(Win32ScriptCodePage::NumberConversion::kOwn);

const int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);
const int32_t kOverflow = static_cast<int32_t>(0x8002000Au);

// Texts of "D" values: decimal digits with spaces or tabs before and after, and the ways such a
// text goes wrong.
const struct {
    const char* text;
    Conversion expected;
} kDecimalTexts[] = {
    {"0", {0, 0}},
    {"1", {0, 1}},
    {"42", {0, 42}},
    {"4294967295", {0, 4294967295u}},
    {"0000000000000000000000004294967295", {0, 4294967295u}},
    {"   17", {0, 17}},
    {"17   ", {0, 17}},
    {" \t 2001 \t ", {0, 2001}},
    {"4294967296", {kOverflow, 0xDEADBEEF}},
    {"4294967300", {kOverflow, 0xDEADBEEF}},
    {"10000000000", {kOverflow, 0xDEADBEEF}},
    {"99999999999999999999999", {kOverflow, 0xDEADBEEF}},
    {"", {kTypeMismatch, 0xDEADBEEF}},
    {"   ", {kTypeMismatch, 0xDEADBEEF}},
    {"12 34", {kTypeMismatch, 0xDEADBEEF}},
    {"12x", {kTypeMismatch, 0xDEADBEEF}},
    {"x12", {kTypeMismatch, 0xDEADBEEF}},
    {"ten", {kTypeMismatch, 0xDEADBEEF}},
};

TEST(ScriptCodePage, SystemAndOwnConversionAgreeOnDecimalTexts) {
    for (const auto& c : kDecimalTexts) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(c.expected, Convert(kOwn, c.text));
        EXPECT_EQ(c.expected, Convert(kSystem, c.text));
    }
}

// Other number forms the system's conversion may take (signs, hexadecimal, fractions,
// separators, depending on the locale): the module's own refuses them all.
TEST(ScriptCodePage, OwnConversionRefusesOtherNumberForms) {
    for (const char* text : {"+5", "-1", "-0", "&H10", "0x10", "1.5", "1e3", "1,000", "(5)", "$5"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(kTypeMismatch, Convert(kOwn, text).status);
        std::printf("VarUI4FromStr(\"%s\"): %s\n", text, ::testing::PrintToString(Convert(kSystem, text)).c_str());
    }
}

// Where GetProcAddress finds no VarUI4FromStr, as on Windows 95 as first shipped, the
// conversion of the module's own answers: "&H10", which the system's takes, is refused.
decltype(&GetProcAddress) g_realGetProcAddress = nullptr;

FARPROC WINAPI NoVarUI4FromStr(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && std::strcmp(name, "VarUI4FromStr") == 0) return nullptr;
    return g_realGetProcAddress(module, name);
}

TEST(ScriptCodePage, WithoutVarUI4FromStrTheOwnConversionAnswers) {
    ASSERT_NE(nullptr, kAutomation);
    ASSERT_EQ(0, Convert(kSystem, "&H10").status) << "the system's conversion is in use here";
    ScopedImportPatch patch("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&NoVarUI4FromStr));
    g_realGetProcAddress = reinterpret_cast<decltype(&GetProcAddress)>(patch.previous());
    ASSERT_NE(nullptr, g_realGetProcAddress);
    EXPECT_EQ(kTypeMismatch, Convert(kSystem, "&H10").status);
    for (const auto& c : kDecimalTexts) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(c.expected, Convert(kSystem, c.text));
    }
}

}   // namespace
