// Brantovix.dll as the Windows 95/98 loader and installers see it: a PE32 i386 DLL with subsystem
// version 4.0, imports from the six system DLLs only and only functions on the allowed list, the
// expected exports, and its version block.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Build paths are Unix paths; Wine maps the Unix root to drive Z:.
std::string WindowsPath(const char* path) {
    return path[0] == '/' ? std::string("Z:") + path : path;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

class PeImage {
public:
    explicit PeImage(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        data_ = bytes.str();
    }
    bool Valid() const {
        if (data_.size() < sizeof(IMAGE_DOS_HEADER)) return false;
        const IMAGE_DOS_HEADER* dos = At<IMAGE_DOS_HEADER>(0);
        return dos && dos->e_magic == IMAGE_DOS_SIGNATURE && Headers() && Headers()->Signature == IMAGE_NT_SIGNATURE;
    }
    const IMAGE_NT_HEADERS32* Headers() const {
        const IMAGE_DOS_HEADER* dos = At<IMAGE_DOS_HEADER>(0);
        return dos ? At<IMAGE_NT_HEADERS32>(dos->e_lfanew) : nullptr;
    }
    // File offset of a relative virtual address, or 0 when no section holds it.
    size_t Offset(DWORD rva) const {
        const IMAGE_NT_HEADERS32* nt = Headers();
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        size_t first = reinterpret_cast<const char*>(section) - data_.data();
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER* s = At<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER));
            if (s && rva >= s->VirtualAddress && rva < s->VirtualAddress + s->SizeOfRawData)
                return rva - s->VirtualAddress + s->PointerToRawData;
        }
        return 0;
    }
    template <typename T>
    const T* At(size_t offset) const {
        return offset && offset + sizeof(T) <= data_.size() ? reinterpret_cast<const T*>(data_.data() + offset)
               : offset == 0 && sizeof(T) <= data_.size()   ? reinterpret_cast<const T*>(data_.data())
                                                            : nullptr;
    }
    std::string Text(DWORD rva) const {
        size_t offset = Offset(rva);
        if (!offset) return "<bad rva>";
        return std::string(data_.c_str() + offset, strnlen(data_.c_str() + offset, data_.size() - offset));
    }

    std::vector<std::string> Imports() const {
        std::vector<std::string> imports;
        const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (size_t offset = Offset(directory.VirtualAddress);; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const IMAGE_IMPORT_DESCRIPTOR* descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (!descriptor || !descriptor->Name) break;
            std::string dll = Text(descriptor->Name);
            DWORD thunks = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
            for (size_t t = Offset(thunks);; t += 4) {
                const DWORD* thunk = At<DWORD>(t);
                if (!thunk || !*thunk) break;
                if (*thunk & IMAGE_ORDINAL_FLAG32)
                    imports.push_back(dll + "!#" + std::to_string(*thunk & 0xFFFF));
                else
                    imports.push_back(dll + "!" + Text(*thunk + 2));
            }
        }
        return imports;
    }

    std::vector<std::string> Exports() const {
        std::vector<std::string> exports;
        const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (!directory.VirtualAddress) return exports;
        const IMAGE_EXPORT_DIRECTORY* table = At<IMAGE_EXPORT_DIRECTORY>(Offset(directory.VirtualAddress));
        if (!table) return exports;
        for (DWORD i = 0; i < table->NumberOfNames; ++i) {
            const DWORD* name = At<DWORD>(Offset(table->AddressOfNames) + 4 * i);
            if (name) exports.push_back(Text(*name));
        }
        return exports;
    }

private:
    std::string data_;
};

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

// The allowed list (server/allowed_imports.txt), as "dll!Function" with the DLL in lower case.
std::set<std::string> AllowedImports() {
    std::set<std::string> allowed;
    std::ifstream list(WindowsPath(ALLOWED_IMPORTS));
    EXPECT_TRUE(list.good()) << ALLOWED_IMPORTS;
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t bang = line.find('!');
        EXPECT_NE(std::string::npos, bang) << "not DLL!Function: " << line;
        if (bang == std::string::npos) continue;
        // The list cannot let another DLL back in.
        EXPECT_TRUE(kSystemDlls.count(DllOf(line))) << "listed outside the system DLLs: " << line;
        allowed.insert(DllOf(line) + line.substr(bang));
    }
    return allowed;
}

void ExpectOnlyAllowedImports(const std::string& file) {
    std::set<std::string> allowed = AllowedImports();
    ASSERT_GT(allowed.size(), 50u);
    PeImage image(file);
    ASSERT_TRUE(image.Valid()) << file;
    std::vector<std::string> imports = image.Imports();
    ASSERT_FALSE(imports.empty());
    for (const std::string& import : imports) {
        EXPECT_TRUE(allowed.count(DllOf(import) + import.substr(import.find('!'))))
            << file << ": not on the allowed list: " << import;
        EXPECT_TRUE(kSystemDlls.count(DllOf(import))) << file << " imports from " << DllOf(import);
    }
}

TEST(DllImage, ImportsOnlyFunctionsOnTheAllowedList) {
    ExpectOnlyAllowedImports(kDll);
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

// BRANLIST.EXE, shipped beside the DLL: a PE32 i386 console program for subsystem 4.0 that
// imports only from the system DLLs and only functions on the same allowed list.
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

TEST(ProgramImage, ImportsOnlyFunctionsOnTheAllowedList) {
    ExpectOnlyAllowedImports(kProgram);
}

}   // namespace
