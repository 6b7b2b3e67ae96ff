// A deterministic mutation fuzzer for the registrar script parser, run as a native test under
// the sanitizers: scripts made from valid ones by flipping, inserting, cutting and repeating
// bytes and tokens (also runs of thousands of braces, double-byte lead bytes, placeholders),
// interpreted on a registry in memory in both code pages and with failing allocations.
//
// What must hold for every input, besides no crash and no overrun:
//   - the result is S_OK, E_OUTOFMEMORY, E_FAIL or DISP_E_EXCEPTION;
//   - every key the parser opened is closed once, and all the task memory it took is given back;
//   - a script that fails changes nothing (the registry here refuses nothing, so only a
//     malformed script or a failed allocation can fail, and both are found before any write);
//   - a script that registers can be unregistered.
//
// BRANTOVIX_FUZZ_ITERATIONS sets the number of inputs (default 8000); BRANTOVIX_FUZZ_START the generator's starting state.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "registry_script_parser.h"
#include "replacement_map.h"
#include "script_host_environment.h"

namespace {

const char* const kSeeds[] = {
    "HKCR\r\n{\r\n\tBrantovix.Drivers.1 = s 'Drivers Class'\r\n\t{\r\n\t\tCLSID = s '{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}'\r\n"
    "\t}\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6} = s 'Drivers Class'\r\n"
    "\t\t{\r\n\t\t\tForceRemove 'Programmable'\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n",
    "HKCU { Software { Test = s 'it''s 100%%' { val D = d 305419896 val B = b 0aFF val E = b '' } } }",
    "HKLM { A { B { C { D = s x } } } Delete Old ForceRemove New { Leaf } NoRemove Kept { Sub } }",
    "HKEY_CURRENT_USER { 'quoted name' = S '%Module%' { val 'named value' = B 00ff10 } }",
    "HKCU { X } HKCR { Y { val V = D 7 } } HKDD { Z }",
};

const char* const kTokens[] = {
    "HKCR", "HKCU", "HKEY_LOCAL_MACHINE", "{", "}", "=", " = ", "s", "d", "b", "S", "val", "ForceRemove", "NoRemove",
    "Delete", "CLSID", "TypeLib", "'", "''", "%MODULE%", "%module%", "%%", "%", "\\", "\r\n", "\t", " ",
    "305419896", "0aFF", "0g", "abc", "\x81", "\x81\x5C", "\x82\x27", "\xE0", "{{{{", "}}}}", "'{'", "%NOSUCHNAME%",
};

class Random {
public:
    explicit Random(uint64_t start) : state(start ? start : 0x9E3779B97F4A7C15ull) {}
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16);
    }
    size_t Below(size_t bound) { return bound ? Next() % bound : 0; }

private:
    uint64_t state;
};

void Mutate(std::string& text, Random& random) {
    size_t at = random.Below(text.size() + 1);
    switch (random.Below(8)) {
    case 0:  // flip a byte
        if (!text.empty()) text[random.Below(text.size())] = static_cast<char>(random.Next() % 255 + 1);
        break;
    case 1:
    case 2:  // insert a token
        text.insert(at, kTokens[random.Below(sizeof kTokens / sizeof kTokens[0])]);
        break;
    case 3:  // cut a range
        text.erase(at, random.Below(40));
        break;
    case 4: {  // repeat a range
        std::string piece = text.substr(at, random.Below(60));
        for (size_t i = random.Below(4); i > 0; --i) text.insert(at, piece);
        break;
    }
    case 5:  // runaway: a long run of one character
        text.insert(at, std::string(random.Below(6000), "{'x%}\t"[random.Below(6)]));
        break;
    case 6:  // truncate
        text.resize(at);
        break;
    default: {  // a few random non-zero bytes
        for (size_t i = random.Below(8); i > 0; --i) text.insert(at, 1, static_cast<char>(random.Next() % 255 + 1));
        break;
    }
    }
}

void Populate(MemoryRegistry& registry) {
    registry.AddString("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}", "", "another class");
    registry.AddString("HKCU\\Software\\Test", "Kept", "x");
    registry.AddKey("HKLM\\A\\B\\Foreign");
}

bool IsExpectedResult(ScriptResult result) {
    return result == kScriptSucceeded || result == kScriptOutOfMemory || result == kScriptFailed ||
           result == kScriptException;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 400)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out + (text.size() > 400 ? "..." : "");
}

long Setting(const char* name, long fallback) {
    const char* text = getenv(name);
    return text ? strtol(text, nullptr, 0) : fallback;
}

TEST(RegistryScriptParserFuzz, MutatedScriptsKeepTheirPromises) {
    long iterations = Setting("BRANTOVIX_FUZZ_ITERATIONS", 8000);
    Random random(static_cast<uint64_t>(Setting("BRANTOVIX_FUZZ_START", 20011110)));
    HostCodePage singleByte(false);
    HostCodePage doubleByte(true);
    ReplacementMap replacements;
    FailTaskMemoryAfter(-1);
    ASSERT_EQ(0, replacements.AddQuoted(L"Module", L"C:\\it's\\Brantovix.dll"));

    long registered = 0;
    for (long i = 0; i < iterations; ++i) {
        std::string script = kSeeds[random.Below(sizeof kSeeds / sizeof kSeeds[0])];
        for (size_t m = 1 + random.Below(4); m > 0; --m) Mutate(script, random);
        const HostCodePage& codePage = random.Below(2) ? doubleByte : singleByte;
        bool registering = random.Below(3) != 0;
        int allocations = random.Below(8) == 0 ? static_cast<int>(random.Below(6)) : -1;

        MemoryRegistry registry;
        Populate(registry);
        std::string before = registry.Dump();
        int blocks = TaskMemoryBlocks().stillOpen();
        RegistryScriptParser parser(registry, replacements, codePage);
        FailTaskMemoryAfter(allocations);
        ScriptResult result = parser.ProcessScript(script.c_str(), registering);
        FailTaskMemoryAfter(-1);

        SCOPED_TRACE("input " + std::to_string(i) + (registering ? " registering: " : " unregistering: ") +
                     Printable(script));
        ASSERT_TRUE(IsExpectedResult(result)) << std::hex << result;
        ASSERT_TRUE(registry.Keys().Balanced());
        ASSERT_EQ(blocks, TaskMemoryBlocks().stillOpen());
        if (result != kScriptSucceeded) {
            ASSERT_EQ(before, registry.Dump());
            continue;
        }
        if (registering) {
            ++registered;
            ASSERT_EQ(kScriptSucceeded, parser.ProcessScript(script.c_str(), false));
            ASSERT_TRUE(registry.Keys().Balanced());
        }
    }
    // The mutations must leave enough scripts valid to reach the registry at all.
    EXPECT_GT(registered, iterations / 50);
    printf("%ld inputs, %ld registered and unregistered\n", iterations, registered);
}

}  // namespace
