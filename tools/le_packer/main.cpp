// le_packer: turns a driver linked as a 32-bit ELF file (ld -q, relocations kept) into a
// Windows virtual device driver in the LE format.
//
//   le_packer --input FILE.elf --output FILE.VXD --module-name NAME --description TEXT
//             --entry SYMBOL --object SECTION=FLAGS [--object ...]
//             [--file-version A.B.C.D --product-version A.B.C.D --file-flags-mask N
//              --file-flags N --file-os N --file-type N --file-subtype N
//              --string KEY=VALUE ...]
//
// The version options build the 16-bit version resource; without --file-version the image
// carries none. Numbers may be written in decimal or with 0x.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "elf_input.h"
#include "le_image.h"

namespace {

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (*end || v > 0xFFFFFFFFul) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool ParseVersion(const std::string& text, uint32_t* ms, uint32_t* ls) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 0xFFFF || b > 0xFFFF ||
        c > 0xFFFF || d > 0xFFFF)
        return false;
    *ms = a << 16 | b;
    *ls = c << 16 | d;
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "le_packer: %s\n", message.c_str());
    return 1;
}

}   // namespace

int main(int argc, char** argv) {
    std::string input, output;
    le::Module module;
    std::vector<le::ObjectPlan> plan;
    le::VersionInfo version;
    bool hasVersion = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) return Fail("option " + option + " needs a value");
        std::string value = argv[++i];
        uint32_t number = 0;
        auto numberOption = [&](uint32_t* field) {
            if (!ParseNumber(value, field)) return false;
            return true;
        };
        if (option == "--input")
            input = value;
        else if (option == "--output")
            output = value;
        else if (option == "--module-name")
            module.name = value;
        else if (option == "--description")
            module.description = value;
        else if (option == "--entry")
            module.entryName = value;
        else if (option == "--object") {
            size_t eq = value.find('=');
            if (eq == std::string::npos || !ParseNumber(value.substr(eq + 1), &number))
                return Fail("--object wants SECTION=FLAGS, not " + value);
            plan.push_back({value.substr(0, eq), number});
        } else if (option == "--file-version") {
            if (!ParseVersion(value, &version.fileVersionMs, &version.fileVersionLs))
                return Fail("bad version " + value);
            hasVersion = true;
        } else if (option == "--product-version") {
            if (!ParseVersion(value, &version.productVersionMs, &version.productVersionLs))
                return Fail("bad version " + value);
        } else if (option == "--file-flags-mask") {
            if (!numberOption(&version.fileFlagsMask)) return Fail("bad number " + value);
        } else if (option == "--file-flags") {
            if (!numberOption(&version.fileFlags)) return Fail("bad number " + value);
        } else if (option == "--file-os") {
            if (!numberOption(&version.fileOs)) return Fail("bad number " + value);
        } else if (option == "--file-type") {
            if (!numberOption(&version.fileType)) return Fail("bad number " + value);
        } else if (option == "--file-subtype") {
            if (!numberOption(&version.fileSubtype)) return Fail("bad number " + value);
        } else if (option == "--string") {
            size_t eq = value.find('=');
            if (eq == std::string::npos) return Fail("--string wants KEY=VALUE, not " + value);
            version.strings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            return Fail("unknown option " + option);
        }
    }
    if (input.empty() || output.empty() || module.name.empty() || module.description.empty() ||
        module.entryName.empty() || plan.empty())
        return Fail("--input, --output, --module-name, --description, --entry and --object are needed");

    std::ifstream in(input, std::ios::binary);
    if (!in) return Fail("cannot read " + input);
    std::vector<uint8_t> elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::string error;
    if (!le::ReadLinkedElf(elf, plan, &module, &error)) return Fail(input + ": " + error);
    if (hasVersion) module.versionResource = le::BuildVersionBlock(version);
    std::vector<uint8_t> image;
    if (!le::WriteImage(module, &image, &error)) return Fail(input + ": " + error);

    std::string temporary = output + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) return Fail("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) return Fail("cannot write " + output);
    return 0;
}
