// The registrar script interpreter on a registry held in memory: the module's own script,
// every failure of the script language with its HRESULT, values of each type, the
// modifiers, recovery mode, the undoing of a root block that fails halfway, double-byte text
// and allocation failures. Every key opened is closed once, whatever the outcome.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "registry_script_parser.h"
#include "replacement_map.h"
#include "script_host_environment.h"

namespace {

const char kClassKey[] = "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";
const wchar_t kModulePath[] = L"C:\\Program Files\\Orvane\\Brantovix.dll";

std::string ReadModuleScript() {
    std::string text;
    FILE* file = fopen(BRANTOVIX_MODULE_SCRIPT, "rb");
    if (!file) return text;
    char buffer[1024];
    size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, read);
    fclose(file);
    return text;
}

// The registry that registering the module's script leaves, with kModulePath as the module.
const char kModuleRegistration[] =
    "HKCR\\Brantovix.Drivers\n"
    "HKCR\\Brantovix.Drivers.1\n"
    "HKCR\\Brantovix.Drivers.1:@ = sz:Drivers Class|\n"
    "HKCR\\Brantovix.Drivers.1\\CLSID\n"
    "HKCR\\Brantovix.Drivers.1\\CLSID:@ = sz:{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}|\n"
    "HKCR\\Brantovix.Drivers:@ = sz:Drivers Class|\n"
    "HKCR\\Brantovix.Drivers\\CLSID\n"
    "HKCR\\Brantovix.Drivers\\CLSID:@ = sz:{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}|\n"
    "HKCR\\Brantovix.Drivers\\CurVer\n"
    "HKCR\\Brantovix.Drivers\\CurVer:@ = sz:Brantovix.Drivers.1|\n"
    "HKCR\\CLSID\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}:@ = sz:Drivers Class|\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\InprocServer32\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\InprocServer32:@ = sz:C:\\Program "
    "Files\\Orvane\\Brantovix.dll|\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\InprocServer32:ThreadingModel = sz:Apartment|\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\ProgID\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\ProgID:@ = sz:Brantovix.Drivers.1|\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\Programmable\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\TypeLib\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\TypeLib:@ = sz:{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}|\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\VersionIndependentProgID\n"
    "HKCR\\CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}\\VersionIndependentProgID:@ = sz:Brantovix.Drivers|\n";

class RegistryScriptParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        FailTaskMemoryAfter(-1);
        ASSERT_EQ(0, replacements.AddQuoted(L"Module", kModulePath));
    }
    void TearDown() override {
        FailTaskMemoryAfter(-1);
        // Every key the parser opened is closed again, whatever the outcome.
        EXPECT_EQ("", registry.Keys().Faults());
    }

    ScriptResult Run(const std::string& script, bool registering) {
        int blocks = TaskMemoryBlocks().stillOpen();
        RegistryScriptParser parser(registry, replacements, codePage);
        ScriptResult result = parser.ProcessScript(script.c_str(), registering);
        // Whatever the outcome, the run gives back all the task memory it took.
        EXPECT_EQ(blocks, TaskMemoryBlocks().stillOpen());
        return result;
    }

    MemoryRegistry registry;
    ReplacementMap replacements;
    HostCodePage codePage;
};

TEST(ModuleScript, IsTheExactTwentySixLines) {
    std::string script = ReadModuleScript();
    ASSERT_EQ(629u, script.size());
    size_t lines = 0;
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] == '\n') {
            ++lines;
            EXPECT_EQ('\r', script[i - 1]) << "line " << lines;
        }
    }
    EXPECT_EQ(26u, lines);
    EXPECT_EQ(0, script.compare(0, 6, "HKCR\r\n"));
    EXPECT_NE(std::string::npos, script.find("\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n"));
    EXPECT_NE(std::string::npos, script.find("\r\n\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"));
    EXPECT_EQ(std::string::npos, script.find('\0'));
    EXPECT_EQ(std::string::npos, script.find("\n "));   // indentation is by TABs
}

TEST_F(RegistryScriptParserTest, ModuleScriptRegistersTheClass) {
    std::string script = ReadModuleScript();
    ASSERT_FALSE(script.empty());
    EXPECT_EQ(kScriptSucceeded, Run(script, true));
    EXPECT_EQ(kModuleRegistration, registry.Dump());

    // Again: the class key is rebuilt, the program identifiers are opened and overwritten.
    EXPECT_EQ(kScriptSucceeded, Run(script, true));
    EXPECT_EQ(kModuleRegistration, registry.Dump());
}

TEST_F(RegistryScriptParserTest, RegisteringRebuildsTheClassKeyAndKeepsProgramIdentifiers) {
    registry.AddString(std::string(kClassKey) + "\\Stale\\Deeper\\Deepest", "Old", "x");
    registry.AddString(std::string(kClassKey) + "\\InprocServer32", "", "C:\\old\\path.dll");
    registry.AddString("HKCR\\Brantovix.Drivers.1", "Kept", "named value of someone else");
    EXPECT_EQ(kScriptSucceeded, Run(ReadModuleScript(), true));

    std::string expected = kModuleRegistration;
    std::string kept = "HKCR\\Brantovix.Drivers.1:Kept = sz:named value of someone else|\n";
    expected.insert(expected.find("HKCR\\Brantovix.Drivers.1\\CLSID\n"), kept);
    EXPECT_EQ(expected, registry.Dump());
}

TEST_F(RegistryScriptParserTest, ModuleScriptUnregistersInOrder) {
    std::string script = ReadModuleScript();
    registry.AddKey("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}");
    ASSERT_EQ(kScriptSucceeded, Run(script, true));
    registry.ClearDeletions();

    EXPECT_EQ(kScriptSucceeded, Run(script, false));
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}\n", registry.Dump());
    std::string classKey = kClassKey;
    std::vector<std::string> expected = {
        "HKCR\\Brantovix.Drivers.1\\CLSID",
        "HKCR\\Brantovix.Drivers.1",
        "HKCR\\Brantovix.Drivers\\CLSID",
        "HKCR\\Brantovix.Drivers\\CurVer",
        "HKCR\\Brantovix.Drivers",
        classKey + "\\ProgID",
        classKey + "\\VersionIndependentProgID",
        classKey + "\\Programmable",
        classKey + "\\InprocServer32:ThreadingModel",
        classKey + "\\InprocServer32",
        classKey + "\\TypeLib",
        classKey,
    };
    EXPECT_EQ(expected, registry.Deletions());
}

TEST_F(RegistryScriptParserTest, UnregisteringLeavesAClassKeyThatHoldsOtherSubkeys) {
    std::string script = ReadModuleScript();
    ASSERT_EQ(kScriptSucceeded, Run(script, true));
    std::string categories =
        std::string(kClassKey) + "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
    registry.AddKey(categories);

    EXPECT_EQ(kScriptSucceeded, Run(script, false));
    EXPECT_EQ("HKCR\\CLSID\n" + std::string(kClassKey) + "\n" + kClassKey + ":@ = sz:Drivers Class|\n" + kClassKey +
                  "\\Implemented Categories\n" + categories + "\n",
              registry.Dump());
}

TEST_F(RegistryScriptParserTest, UnregisteringWhatIsNotRegisteredChangesNothing) {
    registry.AddString("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}", "", "another class");
    // A key of a name the script uses, but somewhere else: recovery mode must not reach it.
    registry.AddString("HKCR\\ProgID", "", "not ours");
    std::string before = registry.Dump();
    EXPECT_EQ(kScriptSucceeded, Run(ReadModuleScript(), false));
    EXPECT_EQ(before, registry.Dump());
    EXPECT_TRUE(registry.Deletions().empty());
}

TEST_F(RegistryScriptParserTest, NoRemoveKeepsTheRestOfItsBlock) {
    std::string script = "HKCU { Test { First Second NoRemove Third Fourth } }";
    ASSERT_EQ(kScriptSucceeded, Run(script, true));
    EXPECT_EQ(kScriptSucceeded, Run(script, false));
    EXPECT_EQ("HKCU\\Test\nHKCU\\Test\\Fourth\nHKCU\\Test\\Third\n", registry.Dump());
}

TEST_F(RegistryScriptParserTest, KeysWithSubkeysTheScriptDoesNotNameStay) {
    std::string script = "HKCU { Outer = s 'o' { val Named = s 'n' Inner { Leaf } } }";
    ASSERT_EQ(kScriptSucceeded, Run(script, true));
    registry.AddKey("HKCU\\Outer\\Inner\\Foreign");
    EXPECT_EQ(kScriptSucceeded, Run(script, false));
    // Leaf and the named value go; Inner and Outer keep what is not the script's.
    EXPECT_EQ("HKCU\\Outer\nHKCU\\Outer:@ = sz:o|\nHKCU\\Outer\\Inner\nHKCU\\Outer\\Inner\\Foreign\n", registry.Dump());
}

TEST_F(RegistryScriptParserTest, KeyWithoutSubkeysGoesWithItsOtherValues) {
    registry.AddString("HKCU\\Solo", "", "default");
    registry.AddString("HKCU\\Solo", "Foreign", "value the script does not name");
    EXPECT_EQ(kScriptSucceeded, Run("HKCU { Solo { val Mine = s 'x' } }", false));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(RegistryScriptParserTest, ForceRemoveAndDeleteTakeWholeTrees) {
    registry.AddString("HKCU\\Forced\\A\\B\\C", "", "old");
    registry.AddString("HKCU\\Gone\\X\\Y", "", "old");
    EXPECT_EQ(kScriptSucceeded, Run("HKCU { ForceRemove Forced = s 'new' { Fresh } Delete Gone = s 'ignored' }", true));
    EXPECT_EQ("HKCU\\Forced\nHKCU\\Forced:@ = sz:new|\nHKCU\\Forced\\Fresh\n", registry.Dump());
}

TEST_F(RegistryScriptParserTest, NeverDeletedKeysSurviveForcedRemoval) {
    registry.AddKey("HKCU\\CLSID\\{Other}");
    registry.AddKey("HKCU\\TypeLib\\{Other}");
    EXPECT_EQ(kScriptSucceeded, Run("HKCU { ForceRemove clsid { Mine } Delete TYPELIB }", true));
    EXPECT_EQ("HKCU\\CLSID\nHKCU\\CLSID\\Mine\nHKCU\\CLSID\\{Other}\nHKCU\\TypeLib\nHKCU\\TypeLib\\{Other}\n",
              registry.Dump());
}

// Unregistering reads an entry token for token as registering does, so that the undoing of a
// failed root block and a later unregistration walk the very entries that were registered.
TEST_F(RegistryScriptParserTest, ModifiersAreReadAlikeInBothDirections) {
    const char kOthers[] = "HKCU\\NoRemove\nHKCU\\val\nHKCU\\val\\sub\n";
    const struct {
        const char* script;
        std::string registered;
    } cases[] = {
        {"HKCU { Delete val }", "HKCU\\NoRemove\n"},   // "val" is the name of a key to delete
        {"HKCU { Delete NoRemove = s 'skipped' }", "HKCU\\val\nHKCU\\val\\sub\n"},
        {"HKCU { ForceRemove K { val V = s 'v' } }", std::string("HKCU\\K\nHKCU\\K:V = sz:v|\n") + kOthers},
        {"HKCU { NoRemove K = s 'k' }", std::string("HKCU\\K\nHKCU\\K:@ = sz:k|\n") + kOthers},
    };
    for (const auto& c : cases) {
        MemoryRegistry fresh;
        fresh.AddKey("HKCU\\val\\sub");
        fresh.AddKey("HKCU\\NoRemove");
        RegistryScriptParser parser(fresh, replacements, codePage);
        EXPECT_EQ(kScriptSucceeded, parser.ProcessScript(c.script, true)) << c.script;
        EXPECT_EQ(c.registered, fresh.Dump()) << c.script;
        EXPECT_EQ(kScriptSucceeded, parser.ProcessScript(c.script, false)) << c.script;
        EXPECT_EQ("", fresh.Keys().Faults());
    }
}

// Scripts that register on an empty registry, and what they leave.
struct RegisterCase {
    const char* name;
    std::string script;
    std::string registry;
};

TEST_F(RegistryScriptParserTest, RegistersValuesAndKeys) {
    const RegisterCase cases[] = {
        {"string default and named", "HKCU { K = s 'text' { val N = S 'named' } }",
         "HKCU\\K\nHKCU\\K:@ = sz:text|\nHKCU\\K:N = sz:named|\n"},
        {"doubled quotes", "HKCU { 'it''s' = s 'a ''quoted'' word' }",
         "HKCU\\it's\nHKCU\\it's:@ = sz:a 'quoted' word|\n"},
        {"empty string", "HKCU { K = s '' }", "HKCU\\K\nHKCU\\K:@ = sz:|\n"},
        {"dword", "HKCU { K { val D = d 305419896 } }", "HKCU\\K\nHKCU\\K:D = dword:12345678\n"},
        {"dword maximum", "HKCU { K { val D = D '4294967295' } }", "HKCU\\K\nHKCU\\K:D = dword:ffffffff\n"},
        {"binary", "HKCU { K { val B = b 0aFF } }", "HKCU\\K\nHKCU\\K:B = hex:0a,ff\n"},
        {"binary non-digit is 0", "HKCU { K { val B = B 0g } }", "HKCU\\K\nHKCU\\K:B = hex:00\n"},
        {"binary empty", "HKCU { K { val B = b '' } }", "HKCU\\K\nHKCU\\K:B = hex:\n"},
        {"key name followed by a brace is one name", "HKCU { Key{ }", "HKCU\\Key{\n"},
        {"braces need whitespace", "HKCU { A { B}C } }", "HKCU\\A\nHKCU\\A\\B}C\n"},
        {"long root name, any case", "hkey_current_user { K }", "HKCU\\K\n"},
        {"two root blocks", "HKCU { A } HKLM { B }", "HKCU\\A\nHKLM\\B\n"},
        {"every separator", "HKCU\r\n{\tA\n=\rs\t'v'\r}\n", "HKCU\\A\nHKCU\\A:@ = sz:v|\n"},
        {"percent sign", "HKCU { 'a%%b' = s '100%%' }", "HKCU\\a%b\nHKCU\\a%b:@ = sz:100%|\n"},
        {"placeholder in any case", "HKCU { A = s '%module%' B = s '%MoDuLe%' }",
         "HKCU\\A\nHKCU\\A:@ = sz:C:\\Program Files\\Orvane\\Brantovix.dll|\nHKCU\\B\n"
         "HKCU\\B:@ = sz:C:\\Program Files\\Orvane\\Brantovix.dll|\n"},
        {"nested blocks", "HKCU { A { B { C { val V = s 'deep' } } } }",
         "HKCU\\A\nHKCU\\A\\B\nHKCU\\A\\B\\C\nHKCU\\A\\B\\C:V = sz:deep|\n"},
        {"quoted token of 4094 bytes", "HKCU { K = s '" + std::string(4094, 'q') + "' }",
         "HKCU\\K\nHKCU\\K:@ = sz:" + std::string(4094, 'q') + "|\n"},
        {"unquoted token of 4095 bytes", "HKCU { K = s " + std::string(4095, 'u') + " }",
         "HKCU\\K\nHKCU\\K:@ = sz:" + std::string(4095, 'u') + "|\n"},
        {"value name of 259 bytes", "HKCU { K { val " + std::string(259, 'n') + " = s v } }",
         "HKCU\\K\nHKCU\\K:" + std::string(259, 'n') + " = sz:v|\n"},
    };
    for (const RegisterCase& c : cases) {
        MemoryRegistry fresh;
        RegistryScriptParser parser(fresh, replacements, codePage);
        EXPECT_EQ(kScriptSucceeded, parser.ProcessScript(c.script.c_str(), true)) << c.name;
        EXPECT_EQ(c.registry, fresh.Dump()) << c.name;
        EXPECT_EQ("", fresh.Keys().Faults()) << c.name;
    }
}

std::string Nested(int levels) {
    std::string script = "HKCU {";
    for (int i = 1; i < levels; ++i) script += " K {";
    for (int i = 0; i < levels; ++i) script += " }";
    return script;
}

// Malformed scripts and the HRESULT of each; none changes anything. Value faults are found
// only when registering: unregistering reads over values without looking at them.
struct FailureCase {
    const char* name;
    std::string script;
    ScriptResult result;
    bool whenUnregistering;
};

std::string ManyOpenedBlocks(int count) {
    std::string script = "HKCU {";
    for (int i = 0; i < count; ++i) script += " { {";
    return script;
}

TEST_F(RegistryScriptParserTest, FailuresChangeNothing) {
    const FailureCase cases[] = {
        {"whitespace only", " \t\r\n ", kScriptException, true},
        {"nothing at all", "", kScriptException, true},
        {"unknown root key", "HKXX { K }", kScriptException, true},
        {"missing brace after the root key", "HKCU K }", kScriptException, true},
        {"end of text inside a block", "HKCU { A { B", kScriptException, true},
        {"end of text after a root block's brace", "HKCU {", kScriptException, true},
        {"end of text after an equals sign", "HKCU { K = s", kScriptException, true},
        {"unclosed quote", "HKCU { 'K = s v }", kScriptException, true},
        {"quoted token of 4095 bytes", "HKCU { K = s '" + std::string(4095, 'q') + "' }", kScriptException, true},
        {"unquoted token of 4096 bytes", "HKCU { K = s " + std::string(4096, 'u') + " }", kScriptException, true},
        {"runaway quoted token", "HKCU { K = s '" + std::string(100000, 'r'), kScriptException, true},
        {"val without equals sign", "HKCU { K { val V s 'x' } }", kScriptException, true},
        {"key name with backslash", "HKCU { A\\B }", kScriptException, true},
        {"forced key name with backslash", "HKCU { ForceRemove 'A\\B' }", kScriptException, true},
        {"empty key name", "HKCU { '' = s 'x' }", kScriptException, true},
        {"key name of 260 bytes", "HKCU { " + std::string(260, 'k') + " }", kScriptException, true},
        {"value name of 260 bytes", "HKCU { K { val " + std::string(260, 'n') + " = s v } }", kScriptException, true},
        {"unknown placeholder", "HKCU { K = s '%NOPE%' }", kScriptException, true},
        {"unclosed percent sign", "HKCU { K = s '100% sure' }", kScriptException, true},
        {"placeholder name of 32 bytes", "HKCU { K = s '%" + std::string(32, 'p') + "%' }", kScriptFailed, true},
        {"nesting one level too deep", Nested(kMaxBlockDepth + 1), kScriptException, true},
        {"thousands of braces", "HKCU " + std::string(20000, '{'), kScriptException, true},
        {"thousands of opened blocks", ManyOpenedBlocks(5000), kScriptException, true},
        {"text after the last root block", "HKCU { K } garbage", kScriptException, true},
        {"block after a val entry", "HKCU { K { val V = s x { Sub } } }", kScriptException, true},
        {"unknown type letter", "HKCU { K = x 'v' }", kScriptException, false},
        {"type word instead of letter", "HKCU { K = sz 'v' }", kScriptException, false},
        {"binary of odd length", "HKCU { K { val B = b abc } }", kScriptFailed, false},
        {"dword that is not a number", "HKCU { K { val D = d twelve } }", kScriptException, false},
        {"dword beyond 32 bits", "HKCU { K { val D = d 4294967296 } }", kScriptException, false},
        {"block after a Delete entry", "HKCU { Delete K { Sub } }", kScriptException, false},
        {"second root block malformed", "HKCU { Good = s 'g' } HKCU { K = b 123 }", kScriptFailed, false},
    };
    registry.AddString("HKCU\\K", "", "before");
    registry.AddString("HKCU\\Good", "Old", "before");
    std::string before = registry.Dump();
    for (const FailureCase& c : cases) {
        for (bool registering : {true, false}) {
            if (!registering && !c.whenUnregistering) continue;
            EXPECT_EQ(c.result, Run(c.script, registering)) << c.name << (registering ? ", registering" : "");
            EXPECT_EQ(before, registry.Dump()) << c.name;
            EXPECT_EQ("", registry.Keys().Faults()) << c.name;
        }
    }
}

TEST_F(RegistryScriptParserTest, NestingUpToTheLimitWorks) {
    std::string script = Nested(kMaxBlockDepth);
    EXPECT_EQ(kScriptSucceeded, Run(script, true));
    EXPECT_EQ(kScriptSucceeded, Run(script, false));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(RegistryScriptParserTest, RootBlockFailingHalfwayIsTakenBack) {
    registry.AddString("HKCU\\Existing", "", "was here before");
    registry.FailCreate("Refused");
    std::string script =
        "HKCU { Earlier = s 'e' }\r\n"
        "HKCU { First = s 'f' { val Named = s 'n' Inner } Existing = s 'overwritten' Refused { Never } After }";
    EXPECT_EQ(kScriptException, Run(script, true));
    // The failing block is unregistered as a whole, the key that existed before included;
    // the root block before it stays.
    EXPECT_EQ("HKCU\\Earlier\nHKCU\\Earlier:@ = sz:e|\n", registry.Dump());
}

// A value the registry refuses fails the script like a key it refuses: the failing root block is
// taken back (the key that existed before included, as with a refused key) and the failure
// returned, not a registration reported as done without the value.
TEST_F(RegistryScriptParserTest, RefusedWriteFailsTheScriptAndTakesTheBlockBack) {
    const struct {
        const char* script;
        const char* after;
    } cases[] = {
        {"HKCU { Locked = s 'new' { val V = d 1 } }", ""},
        {"HKCU { Earlier = s 'e' }\r\n"
         "HKCU { Fresh = s 'f' { val Named = s 'n' } Locked { val V = b 0aFF } After }",
         "HKCU\\Earlier\nHKCU\\Earlier:@ = sz:e|\n"},
    };
    for (const auto& c : cases) {
        MemoryRegistry fresh;
        fresh.AddString("HKCU\\Locked", "", "kept");
        fresh.MakeReadOnly("HKCU\\Locked");
        RegistryScriptParser parser(fresh, replacements, codePage);
        EXPECT_EQ(kScriptException, parser.ProcessScript(c.script, true)) << c.script;
        EXPECT_EQ(c.after, fresh.Dump()) << c.script;
        EXPECT_EQ("", fresh.Keys().Faults()) << c.script;
    }
}

TEST_F(RegistryScriptParserTest, FailedCloseStopsUnregistering) {
    ASSERT_EQ(kScriptSucceeded, Run("HKCU { A B C }", true));
    registry.FailClose("B");
    EXPECT_EQ(kScriptException, Run("HKCU { A B C }", false));
    // A went before the failure, B and C stay.
    EXPECT_EQ("HKCU\\B\nHKCU\\C\n", registry.Dump());
}

TEST_F(RegistryScriptParserTest, ModulePathWithSingleQuoteIsWrittenExactly) {
    ReplacementMap quoted;
    ASSERT_EQ(0, quoted.AddQuoted(L"Module", L"C:\\Tom's ''tools''\\Brantovix.dll"));
    RegistryScriptParser parser(registry, quoted, codePage);
    EXPECT_EQ(kScriptSucceeded, parser.ProcessScript(ReadModuleScript().c_str(), true));
    EXPECT_NE(std::string::npos, registry.Dump().find("\\InprocServer32:@ = sz:C:\\Tom's ''tools''\\Brantovix.dll|\n"));
}

TEST_F(RegistryScriptParserTest, AllocationFailuresGiveOutOfMemory) {
    std::string script = ReadModuleScript();
    for (int allowed = 0;; ++allowed) {
        MemoryRegistry fresh;
        RegistryScriptParser parser(fresh, replacements, codePage);
        FailTaskMemoryAfter(allowed);
        ScriptResult result = parser.ProcessScript(script.c_str(), true);
        long made = TaskMemoryAllocationCount();
        FailTaskMemoryAfter(-1);
        EXPECT_EQ("", fresh.Keys().Faults());
        if (result == kScriptSucceeded) {
            EXPECT_EQ(kModuleRegistration, fresh.Dump());
            EXPECT_LE(made, allowed);
            break;
        }
        EXPECT_EQ(kScriptOutOfMemory, result) << allowed;
        EXPECT_EQ("", fresh.Dump()) << allowed;
        ASSERT_LT(allowed, 100);
    }
}

// In a double-byte code page a character is stepped over whole: its second byte is never a
// quote, a backslash or the end of a token.
TEST(RegistryScriptParserDoubleByte, StepsOverWholeCharacters) {
    FailTaskMemoryAfter(-1);
    HostCodePage codePage(true);
    ReplacementMap replacements;
    ASSERT_EQ(0, replacements.Add(L"Name", L"\x815C\x8127"));
    MemoryRegistry registry;
    RegistryScriptParser parser(registry, replacements, codePage);
    // 0x81 0x5C is one character (not a backslash); 0x81 0x27 one too (not a quote); so is
    // 0x81 0x20 (not whitespace).
    std::string script =
        "HKCU { 'Key\x81\x5C' = s 'a\x81\x27"
        "b' { val \x81\x20x = s '%Name%' } }";
    EXPECT_EQ(kScriptSucceeded, parser.ProcessScript(script.c_str(), true));
    EXPECT_EQ(
        "HKCU\\Key\x81\x5C\nHKCU\\Key\x81\x5C:@ = sz:a\x81\x27"
        "b|\nHKCU\\Key\x81\x5C:\x81\x20x = sz:\x81\x5C\x81\x27|\n",
        registry.Dump());

    // A lead byte at the very end: no step passes the terminator.
    for (const char* tail : {"HKCU { K = s '\x81", "HKCU { K\x81", "HKCU { K = s '%Na\x81", "\x81"}) {
        MemoryRegistry other;
        RegistryScriptParser second(other, replacements, codePage);
        EXPECT_EQ(kScriptException, second.ProcessScript(tail, true)) << tail;
        EXPECT_EQ("", other.Dump());
    }
}

}   // namespace
