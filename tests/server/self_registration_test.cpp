// Self-registration of Brantovix.dll by the platform's own client, regsvr32, read back from
// the registry: the class and ProgID keys, the component-category marks and the type library;
// registering twice; unregistering; and a COM client creating the registered class.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "brantovix_idl.h"
#include "server_test_support.h"

namespace {

// regsvr32's exit code when DllRegisterServer or DllUnregisterServer returns a failure.
const DWORD kExportFailed = 5;
const std::string kClassKey = "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";
const std::string kClassId = "{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";
const std::string kLibraryKey = "TypeLib\\{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}";
const std::string kLibraryId = "{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}";
const std::string kInterfaceKey = "Interface\\{8C41D7B2-E035-11D2-A6F1-0050DA17B3C9}";
const std::string kOrvServiceCategory = "{B93E1F57-72A4-11D2-8C5D-00A0C9E48B12}";
const std::string kSafeForInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
const std::string kSafeForScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const char* const kCategories[] = {"{B93E1F57-72A4-11D2-8C5D-00A0C9E48B12}", "{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
                                   "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"};
const char* const kRoots[] = {
    "Brantovix.Drivers.1", "Brantovix.Drivers", "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}",
    "TypeLib\\{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}", "Interface\\{8C41D7B2-E035-11D2-A6F1-0050DA17B3C9}"};

std::string Lower(std::string text) {
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.find_last_of('\\') + 1);
}

DWORD RunRegsvr32(const char* options) {
    return RunProgram(std::string("regsvr32 ") + options + " \"" + ServerDllPath() + "\"");
}

void PlantDriverFile() {
    HANDLE file = CreateFileA(DeployedDriverPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "stale", 5, &written, nullptr);
    CloseHandle(file);
}

std::map<std::string, std::string> RegistrationSnapshot() {
    std::map<std::string, std::string> all;
    for (const char* root : kRoots) {
        std::map<std::string, std::string> part = SnapshotKey(HKEY_CLASSES_ROOT, root);
        all.insert(part.begin(), part.end());
    }
    return all;
}

struct ExpectedKey {
    std::string key;
    std::string defaultValue;
};

// Leaves the prefix's registration as it found it: registered again when the class was
// registered before, otherwise unregistered with the keys that unregistration keeps removed.
class SelfRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        wasRegistered_ = KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32");
        classKeyExisted_ = KeyExists(HKEY_CLASSES_ROOT, kClassKey);
        for (const char* category : kCategories) {
            categoryExisted_.push_back(KeyExists(HKEY_CLASSES_ROOT, std::string("Component Categories\\") + category));
        }
    }
    void TearDown() override {
        if (wasRegistered_) {
            EXPECT_EQ(0u, RunRegsvr32("/s"));
            return;
        }
        RunRegsvr32("/u /s");
        if (!classKeyExisted_) DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
        for (size_t i = 0; i < categoryExisted_.size(); ++i) {
            if (!categoryExisted_[i]) {
                DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("Component Categories\\") + kCategories[i]);
            }
        }
    }

    void ExpectRegistered() {
        const std::string dll = ServerDllPath();
        const ExpectedKey keys[] = {
            {"Brantovix.Drivers.1", "Drivers Class"},
            {"Brantovix.Drivers.1\\CLSID", kClassId},
            {"Brantovix.Drivers", "Drivers Class"},
            {"Brantovix.Drivers\\CLSID", kClassId},
            {"Brantovix.Drivers\\CurVer", "Brantovix.Drivers.1"},
            {kClassKey, "Drivers Class"},
            {kClassKey + "\\ProgID", "Brantovix.Drivers.1"},
            {kClassKey + "\\VersionIndependentProgID", "Brantovix.Drivers"},
            {kClassKey + "\\TypeLib", kLibraryId},
            {kLibraryKey + "\\1.0", "Brantovix 1.0 Type Library"},
        };
        for (const ExpectedKey& expected : keys) {
            bool present = false;
            EXPECT_EQ(expected.defaultValue, ReadString(HKEY_CLASSES_ROOT, expected.key, "", &present)) << expected.key;
            EXPECT_TRUE(present) << expected.key;
        }
        bool present = true;
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Programmable"));
        ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\Programmable", "", &present);
        EXPECT_FALSE(present) << "Programmable has no value";
        EXPECT_EQ(Lower(dll), Lower(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "")));
        EXPECT_EQ("Apartment", ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel"));

        // The type library: the module file itself, with the module's directory for help.
        EXPECT_EQ(Lower(dll), Lower(ReadString(HKEY_CLASSES_ROOT, kLibraryKey + "\\1.0\\0\\win32", "")));
        EXPECT_EQ(Lower(DirectoryOf(dll)), Lower(ReadString(HKEY_CLASSES_ROOT, kLibraryKey + "\\1.0\\HELPDIR", "")));

        // The three category marks, and the categories with their descriptions and locales.
        for (const char* category : kCategories) {
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Implemented Categories\\" + category)) << category;
        }
        char userLocale[16];
        snprintf(userLocale, sizeof(userLocale), "%lx", static_cast<unsigned long>(GetUserDefaultLCID()));
        EXPECT_EQ("Orv Service",
                  ReadString(HKEY_CLASSES_ROOT, "Component Categories\\" + kOrvServiceCategory, userLocale));
        EXPECT_EQ("Controls safely initializable from persistent data!",
                  ReadString(HKEY_CLASSES_ROOT, "Component Categories\\" + kSafeForInitializing, "409"));
        EXPECT_EQ("Controls safely scriptable!",
                  ReadString(HKEY_CLASSES_ROOT, "Component Categories\\" + kSafeForScripting, "409"));
    }

    bool wasRegistered_ = false;
    bool classKeyExisted_ = false;
    std::vector<bool> categoryExisted_;
    MachineStateGuard machine_;
};

TEST_F(SelfRegistrationTest, RegisterTwiceThenUnregister) {
    PlantDriverFile();
    ASSERT_EQ(0u, RunRegsvr32("/s"));
    EXPECT_FALSE(FileExists(DeployedDriverPath())) << "registration deletes the enumerator driver file";
    ExpectRegistered();
    const std::map<std::string, std::string> once = RegistrationSnapshot();

    // A second registration rebuilds the class key: what the script does not name goes.
    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, (kClassKey + "\\InprocServer32\\Stale").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr));
    RegCloseKey(stale);
    ASSERT_EQ(0u, RunRegsvr32("/s"));
    EXPECT_EQ(once, RegistrationSnapshot());

    PlantDriverFile();
    ASSERT_EQ(0u, RunRegsvr32("/u /s"));
    EXPECT_FALSE(FileExists(DeployedDriverPath())) << "unregistration deletes the enumerator driver file";
    for (const char* gone : {"Brantovix.Drivers.1", "Brantovix.Drivers"}) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    }
    for (const char* subkey : {"ProgID", "VersionIndependentProgID", "Programmable", "InprocServer32", "TypeLib"}) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\" + subkey)) << subkey;
    }
    for (const char* category : kCategories) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Implemented Categories\\" + category)) << category;
    }
    // The script ran while the category marks were still there, so the class key stays.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibraryKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));

    // Unregistering what is not registered changes nothing and succeeds.
    const std::map<std::string, std::string> unregistered = RegistrationSnapshot();
    EXPECT_EQ(0u, RunRegsvr32("/u /s"));
    EXPECT_EQ(unregistered, RegistrationSnapshot());
}

// The same server built without its "TYPELIB" resource (the build makes it for this test).
TEST_F(SelfRegistrationTest, ModuleWithoutTypeLibraryTakesTheTlbBesideItOrReportsTheFailure) {
    const std::string module = WindowsPath(SERVER_WITHOUT_TYPELIB);
    const std::string beside = module.substr(0, module.rfind('.')) + ".tlb";
    const std::string registerModule = "regsvr32 /s \"" + module + "\"";
    DeleteFileA(beside.c_str());
    // Clears the marks; its result depends on whether the class key exists at all.
    RunProgram("regsvr32 /u /s \"" + module + "\"");

    // No type library at all: the class is not usable, and regsvr32 hears that the export
    // failed. The maker's category is skipped; the two standard categories are still marked.
    EXPECT_EQ(kExportFailed, RunProgram(registerModule));
    const std::string marks = kClassKey + "\\Implemented Categories\\";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, marks + kOrvServiceCategory));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, marks + kSafeForInitializing));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, marks + kSafeForScripting));

    ASSERT_TRUE(CopyFileA(WindowsPath(TYPE_LIBRARY_FILE).c_str(), beside.c_str(), FALSE));
    EXPECT_EQ(0u, RunProgram(registerModule));
    EXPECT_EQ(Lower(module), Lower(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "")));
    EXPECT_EQ(Lower(beside), Lower(ReadString(HKEY_CLASSES_ROOT, kLibraryKey + "\\1.0\\0\\win32", "")));
    EXPECT_EQ(Lower(DirectoryOf(beside)), Lower(ReadString(HKEY_CLASSES_ROOT, kLibraryKey + "\\1.0\\HELPDIR", "")));

    EXPECT_EQ(0u, RunProgram("regsvr32 /u /s \"" + module + "\""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLibraryKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32"));
    DeleteFileA(beside.c_str());
}

TEST_F(SelfRegistrationTest, RegisteredClassIsCreatedThroughCom) {
    ASSERT_EQ(0u, RunRegsvr32("/s"));
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        CLSID byVersionedName = {}, byName = {};
        EXPECT_EQ(S_OK, CLSIDFromProgID(L"Brantovix.Drivers.1", &byVersionedName));
        EXPECT_EQ(S_OK, CLSIDFromProgID(L"Brantovix.Drivers", &byName));
        EXPECT_TRUE(IsEqualCLSID(CLSID_Drivers, byVersionedName));
        EXPECT_TRUE(IsEqualCLSID(CLSID_Drivers, byName));

        EXPECT_FALSE(FileExists(DeployedDriverPath())) << "registration deletes the enumerator driver file";
        IOrvService* service = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(byVersionedName, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvService,
                                         reinterpret_cast<void**>(&service)));
        BSTR information = nullptr;
        EXPECT_EQ(S_OK, service->GetComponentInfomation(&information));
        EXPECT_STREQ(L"Driver Class", information);
        SysFreeString(information);
        long size = -1;
        EXPECT_EQ(S_OK, service->GetDataListSize(&size));
        EXPECT_EQ(0, size % 2) << size;   // a name element and a date element per file
        // The object COM created ran the whole construction: it wrote the driver file again.
        EXPECT_TRUE(FileExists(DeployedDriverPath()));
        EXPECT_EQ(E_NOTIMPL, service->LogDataListToFile(nullptr));
        IDispatch* dispatch = nullptr;
        ASSERT_EQ(S_OK, service->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
        EXPECT_EQ(static_cast<void*>(service), static_cast<void*>(dispatch));
        dispatch->Release();
        EXPECT_EQ(0u, service->Release());
    }
    CoFreeUnusedLibraries();
    CoUninitialize();
}

}   // namespace
