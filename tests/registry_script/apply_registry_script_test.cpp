// The registrar script interpreter on the platform's registry: the module's script as
// Brantovix.dll carries it, applied and reversed under HKEY_CLASSES_ROOT from a directory
// whose name holds a single quote; and scripts of the test's own (resources of this
// executable) under HKEY_CURRENT_USER: value types, placeholders, failures, the undoing of a
// root block that fails halfway, keys that hold what a script does not name. Every key the
// interpreter opens or creates, and the module file it loads as data, is closed once.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "apply_registry_script.h"
#include "handle_ledger.h"
#include "import_patch.h"
#include "ledger_hooks.h"
#include "registry_keys.h"
#include "registry_tree.h"
#include "replacement_map.h"
#include "server_module.h"

namespace {

const char kTestKey[] = "Software\\Brantovix Script Test";
const char kClassKey[] = "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";

// Resources of this executable (apply_registry_script_test.rc).
const UINT kValuesScript = 201;
const UINT kRollbackScript = 202;
const UINT kOddBinaryScript = 203;
const UINT kUnknownPlaceholderScript = 204;
const UINT kWhitespaceScript = 205;
const UINT kExtraScript = 206;
const UINT kDwordTextScript = 207;

// The module's script, line by line: TABs of indentation and text; each line ends in CR LF.
const struct {
    int tabs;
    const char* text;
} kModuleScriptLines[] = {
    {0, "HKCR"},
    {0, "{"},
    {1, "Brantovix.Drivers.1 = s 'Drivers Class'"},
    {1, "{"},
    {2, "CLSID = s '{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}'"},
    {1, "}"},
    {1, "Brantovix.Drivers = s 'Drivers Class'"},
    {1, "{"},
    {2, "CLSID = s '{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}'"},
    {2, "CurVer = s 'Brantovix.Drivers.1'"},
    {1, "}"},
    {1, "NoRemove CLSID"},
    {1, "{"},
    {2, "ForceRemove {3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6} = s 'Drivers Class'"},
    {2, "{"},
    {3, "ProgID = s 'Brantovix.Drivers.1'"},
    {3, "VersionIndependentProgID = s 'Brantovix.Drivers'"},
    {3, "ForceRemove 'Programmable'"},
    {3, "InprocServer32 = s '%MODULE%'"},
    {3, "{"},
    {4, "val ThreadingModel = s 'Apartment'"},
    {3, "}"},
    {3, "'TypeLib' = s '{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}'"},
    {2, "}"},
    {1, "}"},
    {0, "}"},
};

std::string WindowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
}

// The interpreter, linked into this executable, reaches the platform through its import
// table: while a HandleRecording lives, the keys it opens or creates (ledger_hooks.h) and the
// modules it loads are recorded in a ledger, and so are their closes.
HandleLedger* g_ledger = nullptr;
decltype(&LoadLibraryExA) g_loadLibrary = nullptr;
decltype(&FreeLibrary) g_freeLibrary = nullptr;

HMODULE WINAPI RecordLoadLibrary(LPCSTR path, HANDLE file, DWORD flags) {
    HMODULE module = g_loadLibrary(path, file, flags);
    if (module) g_ledger->Opened(module);
    return module;
}
BOOL WINAPI RecordFreeLibrary(HMODULE module) {
    g_ledger->Closed(module);
    return g_freeLibrary(module);
}

class HandleRecording {
public:
    HandleRecording()
        : keys_(ledger),
          loadLibrary_("kernel32.dll", "LoadLibraryExA", reinterpret_cast<void*>(RecordLoadLibrary)),
          freeLibrary_("kernel32.dll", "FreeLibrary", reinterpret_cast<void*>(RecordFreeLibrary)) {
        g_ledger = &ledger;
        g_loadLibrary = reinterpret_cast<decltype(&LoadLibraryExA)>(loadLibrary_.previous());
        g_freeLibrary = reinterpret_cast<decltype(&FreeLibrary)>(freeLibrary_.previous());
    }
    bool Installed() const { return keys_.Installed() && g_loadLibrary && g_freeLibrary; }

    HandleLedger ledger;

private:
    RegistryKeyHooks keys_;
    ScopedImportPatch loadLibrary_;
    ScopedImportPatch freeLibrary_;
};

// ApplyRegistryScript, with everything it opens recorded and checked to be closed once.
HRESULT Apply(UINT id, BOOL registering, const ScriptReplacement* extra = nullptr) {
    HandleRecording recording;
    EXPECT_TRUE(recording.Installed());
    HRESULT result = ApplyRegistryScript(id, registering, extra);
    EXPECT_EQ("", recording.ledger.Faults()) << "script " << id;
    return result;
}

// Scripts of this executable under HKCU\Software\Brantovix Script Test.
class OwnScripts : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteKeyTree(HKEY_CURRENT_USER, kTestKey);
        path = ModulePath(nullptr);
        wchar_t wide[MAX_PATH];
        ASSERT_NE(0, MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH));
        ASSERT_EQ(S_OK, replacements.AddQuoted(L"Module", wide));
    }
    void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestKey); }

    HRESULT Run(UINT id, BOOL registering) {
        HandleRecording recording;
        EXPECT_TRUE(recording.Installed());
        HRESULT result = RunScriptResource(path.c_str(), id, "REGISTRY", registering, replacements);
        EXPECT_EQ("", recording.ledger.Faults()) << "script " << id;
        opened = recording.ledger.opens();
        return result;
    }
    std::string TestKey() { return RegistryTreeText(HKEY_CURRENT_USER, kTestKey); }

    std::string path;
    ReplacementMap replacements;
    int opened = 0;   // keys and modules the last Run opened
};

TEST_F(OwnScripts, WritesEveryValueTypeAndTakesItBack) {
    ASSERT_EQ(S_OK, Run(kValuesScript, TRUE));
    EXPECT_GT(opened, 5) << "the module and the script's keys were seen opening";
    std::string key = kTestKey;
    std::string expected = key + "\n" + key + "\\Outer\n" + key + "\\Outer\\Brace{\n" + key + "\\Outer\\Inner\n" + key +
                           "\\Outer\\Inner:@ = sz:inner|\n" + key + "\\Values\n" + key +
                           "\\Values:@ = sz:it's 100% at " + path + "|\n" + key + "\\Values:Bytes = hex:0a,ff\n" + key +
                           "\\Values:Empty = hex:\n" + key + "\\Values:Number = dword:12345678\n" + key +
                           "\\Values:Text = sz:two words|\n" + key + "\\Values:Zero = hex:00\n";
    EXPECT_EQ(expected, TestKey());

    // A subkey the script does not name keeps its parents.
    HKEY foreign = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (key + "\\Outer\\Inner\\Foreign").c_str(), &foreign));
    RegCloseKey(foreign);
    EXPECT_EQ(S_OK, Run(kValuesScript, FALSE));
    EXPECT_EQ(key + "\n" + key + "\\Outer\n" + key + "\\Outer\\Inner\n" + key + "\\Outer\\Inner:@ = sz:inner|\n" + key +
                  "\\Outer\\Inner\\Foreign\n",
              TestKey());

    DeleteKeyTree(HKEY_CURRENT_USER, key + "\\Outer\\Inner\\Foreign");
    EXPECT_EQ(S_OK, Run(kValuesScript, FALSE));
    EXPECT_EQ("", TestKey());
    // Nothing registered: every entry is read in recovery mode, nothing changes.
    EXPECT_EQ(S_OK, Run(kValuesScript, FALSE));
    EXPECT_EQ("", TestKey());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
}

TEST_F(OwnScripts, RootBlockFailingHalfwayIsTakenBack) {
    HKEY existing = nullptr;
    std::string key = kTestKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (key + "\\Existing").c_str(), &existing));
    RegCloseKey(existing);

    // The second root block creates keys, then meets a key name the registry refuses.
    EXPECT_EQ(DISP_E_EXCEPTION, Run(kRollbackScript, TRUE));
    EXPECT_EQ(key + "\n" + key + "\\Earlier\n" + key + "\\Earlier:@ = sz:stays|\n", TestKey());
}

TEST_F(OwnScripts, FailuresWriteNothing) {
    const struct {
        UINT id;
        HRESULT result;
    } cases[] = {
        {kOddBinaryScript, E_FAIL},
        {kUnknownPlaceholderScript, DISP_E_EXCEPTION},
        {kWhitespaceScript, DISP_E_EXCEPTION},
        {kDwordTextScript, DISP_E_EXCEPTION},   // a "D" text that VarUI4FromStr refuses
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, Run(c.id, TRUE)) << c.id;
        EXPECT_EQ("", TestKey()) << c.id;
    }
}

TEST_F(OwnScripts, LoadFailuresGiveTheSystemError) {
    SetLastError(0);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), Run(299, TRUE));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND),
              RunScriptResource(path.c_str(), kValuesScript, "NOSUCHTYPE", TRUE, replacements));
    HRESULT missing =
        RunScriptResource("C:\\no such directory\\none.dll", kValuesScript, "REGISTRY", TRUE, replacements);
    EXPECT_EQ(FACILITY_WIN32, HRESULT_FACILITY(missing));
    EXPECT_TRUE(FAILED(missing));
    EXPECT_EQ("", TestKey());
}

TEST_F(OwnScripts, ApplyRegistryScriptTakesTheModuleAndExtraReplacements) {
    ServerModule module;
    module.Initialize(nullptr, GetModuleHandleA(nullptr));
    // Extra values are placed as they are: one that goes inside a quoted token doubles its
    // own quotes (only the module path is doubled for the caller).
    const ScriptReplacement extra[] = {{L"Extra", L"first"}, {L"SECOND", L"it''s second"}, {nullptr, nullptr}};
    EXPECT_EQ(S_OK, Apply(kExtraScript, TRUE, extra));
    std::string key = kTestKey;
    EXPECT_EQ(key + "\n" + key + "\\Extra\n" + key + "\\Extra:@ = sz:first|\n" + key + "\\Module\n" + key +
                  "\\Module:@ = sz:" + path + "|\n" + key + "\\Second\n" + key + "\\Second:@ = sz:it's second|\n",
              TestKey());
    EXPECT_EQ(DISP_E_EXCEPTION, Apply(kExtraScript, FALSE));   // %EXTRA% is unknown without them
    EXPECT_EQ(S_OK, Apply(kExtraScript, FALSE, extra));
    EXPECT_EQ("", TestKey());
    module.Terminate();
}

// The module's own script, as Brantovix.dll carries it.
TEST(ModuleScript, ResourceHoldsTheExactScript) {
    std::string expected;
    for (const auto& line : kModuleScriptLines) expected += std::string(line.tabs, '\t') + line.text + "\r\n";
    ASSERT_EQ(629u, expected.size());

    HMODULE dll = LoadLibraryExA(WindowsPath(BRANTOVIX_DLL).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dll);
    HRSRC resource =
        FindResourceExA(dll, "REGISTRY", MAKEINTRESOURCEA(101), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(nullptr, resource);
    DWORD size = SizeofResource(dll, resource);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(dll, resource)));
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(629u, size);
    EXPECT_EQ(expected, std::string(bytes, size));
    FreeLibrary(dll);
}

// Applied from a copy of the DLL in a directory whose name holds a single quote, and reversed.
class ModuleScriptOnTheRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        directory = std::string(temp) + "Brantovix it's here";
        CreateDirectoryA(directory.c_str(), nullptr);
        copy = directory + "\\Brantovix.dll";
        ASSERT_TRUE(CopyFileA(WindowsPath(BRANTOVIX_DLL).c_str(), copy.c_str(), FALSE));
        dll = LoadLibraryA(copy.c_str());
        ASSERT_NE(nullptr, dll);
        module.Initialize(nullptr, dll);
        // Whatever an earlier run may have left.
        ApplyRegistryScript(101, FALSE);
        DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    }
    void TearDown() override {
        if (dll) {
            ApplyRegistryScript(101, FALSE);
            DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
            module.Terminate();
            FreeLibrary(dll);
        }
        DeleteFileA(copy.c_str());
        RemoveDirectoryA(directory.c_str());
    }

    std::string Registration() {
        return RegistryTreeText(HKEY_CLASSES_ROOT, "Brantovix.Drivers.1") +
               RegistryTreeText(HKEY_CLASSES_ROOT, "Brantovix.Drivers") +
               RegistryTreeText(HKEY_CLASSES_ROOT, kClassKey);
    }

    std::string directory;
    std::string copy;
    HMODULE dll = nullptr;
    ServerModule module;
};

TEST_F(ModuleScriptOnTheRegistry, RegistersTheTableAndRemovesIt) {
    // A stale registration with subkeys of subkeys: removed as a whole first.
    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Stale\\Deeper\\Deepest").c_str(), &stale));
    RegCloseKey(stale);

    ASSERT_EQ(S_OK, Apply(101, TRUE));
    std::string classKey = kClassKey;
    std::string expected =
        "Brantovix.Drivers.1\n"
        "Brantovix.Drivers.1:@ = sz:Drivers Class|\n"
        "Brantovix.Drivers.1\\CLSID\n"
        "Brantovix.Drivers.1\\CLSID:@ = sz:{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}|\n"
        "Brantovix.Drivers\n"
        "Brantovix.Drivers:@ = sz:Drivers Class|\n"
        "Brantovix.Drivers\\CLSID\n"
        "Brantovix.Drivers\\CLSID:@ = sz:{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}|\n"
        "Brantovix.Drivers\\CurVer\n"
        "Brantovix.Drivers\\CurVer:@ = sz:Brantovix.Drivers.1|\n" +
        classKey + "\n" + classKey + ":@ = sz:Drivers Class|\n" + classKey + "\\InprocServer32\n" + classKey +
        "\\InprocServer32:@ = sz:" + copy + "|\n" + classKey + "\\InprocServer32:ThreadingModel = sz:Apartment|\n" +
        classKey + "\\ProgID\n" + classKey + "\\ProgID:@ = sz:Brantovix.Drivers.1|\n" + classKey + "\\Programmable\n" +
        classKey + "\\TypeLib\n" + classKey + "\\TypeLib:@ = sz:{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}|\n" + classKey +
        "\\VersionIndependentProgID\n" + classKey + "\\VersionIndependentProgID:@ = sz:Brantovix.Drivers|\n";
    EXPECT_EQ(expected, Registration());
    // Twice gives the same.
    EXPECT_EQ(S_OK, Apply(101, TRUE));
    EXPECT_EQ(expected, Registration());

    // The class key also holds what the script does not name: it stays, the rest goes.
    HKEY categories = nullptr;
    std::string category = classKey + "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, category.c_str(), &categories));
    RegCloseKey(categories);
    EXPECT_EQ(S_OK, Apply(101, FALSE));
    EXPECT_EQ(classKey + "\n" + classKey + ":@ = sz:Drivers Class|\n" + classKey + "\\Implemented Categories\n" +
                  category + "\n",
              Registration());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));

    DeleteKeyTree(HKEY_CLASSES_ROOT, classKey + "\\Implemented Categories");
    EXPECT_EQ(S_OK, Apply(101, FALSE));
    EXPECT_EQ("", Registration());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

}   // namespace
