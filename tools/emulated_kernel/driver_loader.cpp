// The emulated kernel's loader: what the system loader does with a dynamically loaded
// driver's LE file. It maps each object into memory of its own, applies the internal fixups
// (32-bit offsets and 32-bit self-relative references), reads the module name, finds the
// descriptor block at entry ordinal 1 and checks its signature.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "emulated_kernel.h"
#include "system_records.h"

namespace emulated_kernel {
namespace {

uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

}   // namespace

bool Kernel::LoadDriver(const std::string& path, std::string* error) {
    UnloadDriver();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    std::vector<uint8_t> b(GetFileSize(file, nullptr));
    DWORD got = 0;
    BOOL read = ReadFile(file, b.data(), static_cast<DWORD>(b.size()), &got, nullptr);
    CloseHandle(file);
    if (!read || got != b.size()) {
        *error = "cannot read " + path;
        return false;
    }
    auto fail = [&](const std::string& what) {
        UnloadDriver();
        *error = path + ": " + what;
        return false;
    };
    auto has = [&](uint64_t at, uint64_t count) { return at + count <= b.size(); };

    if (!has(0, 0x40) || Word(b, 0) != 0x5A4D) return fail("no DOS header");
    const uint32_t h = Dword(b, 0x3C);
    if (!has(h, 0xC4) || b[h] != 'L' || b[h + 1] != 'E') return fail("no LE header");
    if (Word(b, h + 0x0A) != 4) return fail("not a Windows virtual device");
    const uint32_t pageSize = Dword(b, h + 0x28), pages = Dword(b, h + 0x14);
    const uint32_t lastPage = Dword(b, h + 0x2C), data = Dword(b, h + 0x80);
    const uint32_t objectCount = Dword(b, h + 0x44), objectTable = h + Dword(b, h + 0x40);
    const uint32_t pageMap = h + Dword(b, h + 0x48);
    if (pageSize != 4096 || objectCount == 0 || objectCount > 16 || !has(objectTable, 24ull * objectCount) ||
        !has(pageMap, 4ull * pages))
        return fail("damaged header");

    // Objects: each in memory of its own, pages copied from the file.
    std::vector<uint32_t> pageObject(pages, UINT32_MAX), pageOffset(pages, 0);
    for (uint32_t i = 0; i < objectCount; ++i) {
        const uint32_t at = objectTable + 24 * i;
        const uint32_t size = Dword(b, at), first = Dword(b, at + 12), count = Dword(b, at + 16);
        if (size > 0x1000000 || (count && (first == 0 || first - 1 + uint64_t{count} > pages)) ||
            uint64_t{count} * pageSize > (size + pageSize - 1) / pageSize * pageSize)
            return fail("object " + std::to_string(i + 1) + " is damaged");
        Object object;
        object.size = size;
        object.base = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, size ? size : 1, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        if (!object.base) return fail("out of memory");
        objects_.push_back(object);
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t entry = pageMap + 4 * (first - 1 + k);
            const uint32_t filePage = b[entry] << 16 | b[entry + 1] << 8 | b[entry + 2];
            if (b[entry + 3] != 0 || filePage == 0 || filePage > pages)
                return fail("page " + std::to_string(first + k) + " is not a plain page");
            const uint32_t bytes = filePage == pages ? lastPage : pageSize;
            const uint64_t from = data + uint64_t{filePage - 1} * pageSize;
            const uint32_t into = k * pageSize;
            const uint32_t copy = std::min<uint32_t>(bytes, size - into);
            if (!has(from, copy)) return fail("page " + std::to_string(filePage) + " lies outside the file");
            std::memcpy(object.base + into, &b[from], copy);
            pageObject[first - 1 + k] = i;
            pageOffset[first - 1 + k] = into;
        }
    }

    // Fixups: internal references, 32-bit offsets and 32-bit self-relative.
    const uint32_t fixupPages = h + Dword(b, h + 0x68), fixupRecords = h + Dword(b, h + 0x6C);
    if (!has(fixupPages, 4ull * (pages + 1))) return fail("damaged fixup page table");
    for (uint32_t page = 0; page < pages; ++page) {
        uint64_t at = uint64_t{fixupRecords} + Dword(b, fixupPages + 4 * page);
        const uint64_t end = uint64_t{fixupRecords} + Dword(b, fixupPages + 4 * (page + 1));
        if (end > b.size() || (pageObject[page] == UINT32_MAX && at != end)) return fail("damaged fixups");
        while (at < end) {
            if (!has(at, 7)) return fail("damaged fixup record");
            const uint8_t source = b[at], flags = b[at + 1];
            if ((source & 0xF0) || (source != 7 && source != 8) || (flags & 0xAF))
                return fail("fixup of a kind this loader does not know: " + Hex(source << 8 | flags));
            const int16_t inPage = static_cast<int16_t>(Word(b, at + 2));
            uint64_t p = at + 4;
            uint32_t targetObject = (flags & 0x40) ? Word(b, p) : b[p];
            p += (flags & 0x40) ? 2 : 1;
            if (!has(p, (flags & 0x10) ? 4 : 2)) return fail("damaged fixup record");
            const uint32_t targetOffset = (flags & 0x10) ? Dword(b, p) : Word(b, p);
            p += (flags & 0x10) ? 4 : 2;
            at = p;
            if (targetObject == 0 || targetObject > objects_.size()) return fail("fixup to a missing object");
            const Object& object = objects_[pageObject[page]];
            const int64_t location = int64_t{pageOffset[page]} + inPage;
            if (location < 0 || location + 4 > object.size) return fail("fixup outside its object");
            const uint32_t target = reinterpret_cast<uint32_t>(objects_[targetObject - 1].base) + targetOffset;
            const uint32_t address = reinterpret_cast<uint32_t>(object.base) + static_cast<uint32_t>(location);
            const uint32_t value = source == 7 ? target : target - (address + 4);
            std::memcpy(object.base + location, &value, 4);
        }
    }

    // The module name and the descriptor block (entry ordinal 1).
    const uint32_t names = h + Dword(b, h + 0x58);
    if (!has(names, 1) || !has(names + 1, b[names])) return fail("damaged resident name table");
    moduleName_.assign(reinterpret_cast<const char*>(&b[names + 1]), b[names]);
    uint64_t at = h + Dword(b, h + 0x5C);
    uint32_t ordinal = 1;
    while (has(at, 2) && b[at] != 0 && !ddb_) {
        const uint8_t count = b[at], type = b[at + 1];
        if (type == 0) {
            ordinal += count;
            at += 2;
            continue;
        }
        if (type != 3 || !has(at, 4 + 5ull * count)) return fail("entry table of a kind this loader does not know");
        const uint16_t object = Word(b, at + 2);
        for (uint32_t k = 0; k < count; ++k, ++ordinal) {
            const uint32_t offset = Dword(b, at + 4 + 5 * k + 1);
            if (ordinal == 1 && object >= 1 && object <= objects_.size() &&
                offset + kDdbSize <= objects_[object - 1].size)
                ddb_ = objects_[object - 1].base + offset;
        }
        at += 4 + 5ull * count;
    }
    if (!ddb_) return fail("no descriptor block at entry ordinal 1");
    uint32_t signature;
    std::memcpy(&signature, ddb_ + kDdbPrev, 4);
    if (signature != kDdbSignature)
        return fail("the descriptor block does not carry the signature 'Prev' (DDB_Prev is " + Hex(signature) + ")");
    return true;
}

}   // namespace emulated_kernel
