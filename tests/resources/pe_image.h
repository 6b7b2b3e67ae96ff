// A PE image file read whole, and what the Windows 95/98 loader reads of it: headers, sections,
// imports, exports. Test equipment of tests/resources.
#pragma once

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
