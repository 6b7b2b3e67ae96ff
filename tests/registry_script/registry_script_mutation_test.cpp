// Scripts mutated from valid ones by flipping, inserting, cutting and repeating bytes and tokens
// (also runs of thousands of braces, double-byte lead bytes, placeholders), each given to the
// registrar script fuzz driver (fuzz/registry_script_fuzz.cpp), which checks its properties on
// the registry in memory: registered and unregistered, unregistered without registering, in
// both code pages, with failing allocations. Deterministic, so that the suite checks those
// properties on the same inputs every run, with or without libFuzzer; a property that does not
// hold ends the run, and the input is printed.
//
// BRANTOVIX_FUZZ_ITERATIONS sets the number of inputs (default 8000); BRANTOVIX_FUZZ_START the
// generator's starting state.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "registry_script_parser.h"
#include "replacement_map.h"
#include "script_host_environment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

const char* const kSeeds[] = {
    "HKCR\r\n{\r\n\tBrantovix.Drivers.1 = s 'Drivers Class'\r\n\t{\r\n\t\tCLSID = s "
    "'{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}'\r\n"
    "\t}\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6} = s 'Drivers Class'\r\n"
    "\t\t{\r\n\t\t\tForceRemove 'Programmable'\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n",
    "HKCU { Software { Test = s 'it''s 100%%' { val D = d 305419896 val B = b 0aFF val E = b '' } } }",
    "HKLM { A { B { C { D = s x } } } Delete Old ForceRemove New { Leaf } NoRemove Kept { Sub } }",
    "HKEY_CURRENT_USER { 'quoted name' = S '%Module%' { val 'named value' = B 00ff10 } }",
    "HKCU { X } HKCR { Y { val V = D 7 } } HKDD { Z }",
};

const char* const kTokens[] = {
    "HKCR",        "HKCU",     "HKEY_LOCAL_MACHINE",
    "{",           "}",        "=",
    " = ",         "s",        "d",
    "b",           "S",        "val",
    "ForceRemove", "NoRemove", "Delete",
    "CLSID",       "TypeLib",  "'",
    "''",          "%MODULE%", "%module%",
    "%%",          "%",        "\\",
    "\r\n",        "\t",       " ",
    "305419896",   "0aFF",     "0g",
    "abc",         "\x81",     "\x81\x5C",
    "\x82\x27",    "\xE0",     "{{{{",
    "}}}}",        "'{'",      "%NOSUCHNAME%",
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
    case 0:   // flip a byte
        if (!text.empty()) text[random.Below(text.size())] = static_cast<char>(random.Next() % 255 + 1);
        break;
    case 1:
    case 2:   // insert a token
        text.insert(at, kTokens[random.Below(sizeof kTokens / sizeof kTokens[0])]);
        break;
    case 3:   // cut a range
        text.erase(at, random.Below(40));
        break;
    case 4: {   // repeat a range
        std::string piece = text.substr(at, random.Below(60));
        for (size_t i = random.Below(4); i > 0; --i) text.insert(at, piece);
        break;
    }
    case 5:   // runaway: a long run of one character
        text.insert(at, std::string(random.Below(6000), "{'x%}\t"[random.Below(6)]));
        break;
    case 6:   // truncate
        text.resize(at);
        break;
    default: {   // a few random non-zero bytes
        for (size_t i = random.Below(8); i > 0; --i) text.insert(at, 1, static_cast<char>(random.Next() % 255 + 1));
        break;
    }
    }
}

// Keys of others, as the fuzz driver populates its registry.
void Populate(MemoryRegistry& registry) {
    registry.AddString("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}", "", "another class");
    registry.AddString("HKCU\\Software\\Test", "Kept", "x");
    registry.AddKey("HKLM\\A\\B\\Foreign");
}

long Setting(const char* name, long fallback) {
    const char* text = getenv(name);
    return text ? strtol(text, nullptr, 0) : fallback;
}

// The input in work, printed when the driver aborts on a property that does not hold.
std::string g_input;

void PrintInput(int) {
    static const char kLead[] = "registrar script mutation test: the input was:\n";
    ssize_t written = write(2, kLead, sizeof kLead - 1);
    written = write(2, g_input.data(), g_input.size());
    (void)written;
    signal(SIGABRT, SIG_DFL);
}

TEST(RegistryScriptMutations, EveryMutatedScriptKeepsTheFuzzDriversProperties) {
    const long iterations = Setting("BRANTOVIX_FUZZ_ITERATIONS", 8000);
    Random random(static_cast<uint64_t>(Setting("BRANTOVIX_FUZZ_START", 20011110)));
    HostCodePage singleByte(false);
    ReplacementMap replacements;
    ASSERT_EQ(0, replacements.AddQuoted(L"Module", L"C:\\it's\\Brantovix.dll"));
    signal(SIGABRT, PrintInput);

    long registered = 0;
    for (long i = 0; i < iterations; ++i) {
        std::string script = kSeeds[random.Below(sizeof kSeeds / sizeof kSeeds[0])];
        for (size_t m = 1 + random.Below(4); m > 0; --m) Mutate(script, random);
        g_input = "input " + std::to_string(i) + ": " + script + "\n";
        ASSERT_EQ(0, LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(script.data()), script.size()));

        MemoryRegistry registry;
        Populate(registry);
        RegistryScriptParser parser(registry, replacements, singleByte);
        if (parser.ProcessScript(script.c_str(), true) == kScriptSucceeded) ++registered;
    }
    signal(SIGABRT, SIG_DFL);
    // The mutations must leave enough scripts valid to reach the registry at all.
    EXPECT_GT(registered, iterations / 50);
    printf("%ld inputs, %ld of them registered\n", iterations, registered);
}

}   // namespace
