// Brantovix.dll as the Windows 95/98 loader and installers see it: a PE32 i386 DLL with subsystem
// version 4.0, imports from the six system DLLs only (which functions: windows95_imports_test),
// the expected exports, and its version block.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pe_image.h"

namespace {

// Build paths are Unix paths; Wine maps the Unix root to drive Z:.
std::string WindowsPath(const char* path) {
    return path[0] == '/' ? std::string("Z:") + path : path;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

const std::string kDll = WindowsPath(BRANTOVIX_DLL);

// The DLLs the server imports from, all part of Windows 95 as first shipped; the C runtime DLL is
// not (it came with later compilers and Windows 98), so the server must not need it.
const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                           "version.dll",  "ole32.dll",  "oleaut32.dll"};

std::string DllOf(const std::string& import) {
    return Lower(import.substr(0, import.find('!')));
}

TEST(DllImage, IsAPe32I386DllThatWindows98Loads) {
    PeImage image(kDll);
    ASSERT_TRUE(image.Valid()) << kDll;
    const IMAGE_NT_HEADERS32* nt = image.Headers();
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(4, nt->OptionalHeader.MajorSubsystemVersion);
    EXPECT_EQ(0, nt->OptionalHeader.MinorSubsystemVersion);
    EXPECT_LE(nt->OptionalHeader.MajorOperatingSystemVersion, 4);
    // No static thread storage: Windows 95 refuses LoadLibrary of a DLL that has it.
    EXPECT_EQ(0u, nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].VirtualAddress);
    EXPECT_EQ(0u, nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size);
}

TEST(DllImage, ImportsFromExactlyTheSixSystemDlls) {
    PeImage image(kDll);
    ASSERT_TRUE(image.Valid());
    std::set<std::string> dlls;
    for (const std::string& import : image.Imports()) dlls.insert(DllOf(import));
    for (const std::string& dll : dlls) EXPECT_TRUE(kSystemDlls.count(dll)) << "imports from " << dll;
    for (const std::string& dll : kSystemDlls) EXPECT_TRUE(dlls.count(dll)) << "imports nothing from " << dll;
}

TEST(DllImage, ExportsOnlyTheServerEntryPoints) {
    const std::set<std::string> known = {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
                                         "DllUnregisterServer"};
    PeImage image(kDll);
    ASSERT_TRUE(image.Valid());
    for (const std::string& name : image.Exports()) EXPECT_TRUE(known.count(name)) << "unexpected export " << name;
}

TEST(DllImage, VersionBlockReadsBackThroughTheVersionFunctions) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(kDll.c_str(), &handle);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(kDll.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(2001, 1), fixed->dwFileVersionMS);     // 1.2001
    EXPECT_EQ(MAKELONG(1000, 110), fixed->dwFileVersionLS);   // .110.1000
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);     // 1.0
    EXPECT_EQ(MAKELONG(2, 1), fixed->dwProductVersionLS);     // .1.2

    struct {
        const char* name;
        const char* value;
    } const strings[] = {{"FileDescription", "Brantovix Module"}, {"OLESelfRegister", "Yes"}};
    for (const auto& entry : strings) {
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + entry.name;
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << entry.name;
        EXPECT_STREQ(entry.value, text);
    }
}

TEST(DllImage, CarriesTheBuiltEnumeratorDriverImageByteForByte) {
    std::ifstream in(WindowsPath(ENUMERATOR_DRIVER_IMAGE), std::ios::binary);
    ASSERT_TRUE(in.good()) << ENUMERATOR_DRIVER_IMAGE;
    std::ostringstream built;
    built << in.rdbuf();
    ASSERT_GT(built.str().size(), 0u);

    HMODULE dll = LoadLibraryExA(kDll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dll) << GetLastError();
    HRSRC resource = FindResourceA(dll, MAKEINTRESOURCEA(201), "DRIVER");
    ASSERT_NE(nullptr, resource) << "no resource DRIVER 201";
    HGLOBAL loaded = LoadResource(dll, resource);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    std::string embedded(bytes, SizeofResource(dll, resource));
    FreeLibrary(dll);
    EXPECT_TRUE(embedded == built.str()) << "resource of " << embedded.size() << " bytes, image of "
                                         << built.str().size();
    EXPECT_EQ("MZ", embedded.substr(0, 2));
}

// BRANLIST.EXE, shipped beside the DLL: a PE32 i386 console program for subsystem 4.0 (its
// imports are checked with the DLL's, by windows95_imports_test).
const std::string kProgram = WindowsPath(BRANLIST_EXE);

TEST(ProgramImage, IsAPe32I386ConsoleProgramForSubsystem4) {
    PeImage image(kProgram);
    ASSERT_TRUE(image.Valid()) << kProgram;
    const IMAGE_NT_HEADERS32* nt = image.Headers();
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_CUI, nt->OptionalHeader.Subsystem);
    EXPECT_EQ(4, nt->OptionalHeader.MajorSubsystemVersion);
    EXPECT_EQ(0, nt->OptionalHeader.MinorSubsystemVersion);
    EXPECT_LE(nt->OptionalHeader.MajorOperatingSystemVersion, 4);
    EXPECT_TRUE(image.Exports().empty());
}

}   // namespace
