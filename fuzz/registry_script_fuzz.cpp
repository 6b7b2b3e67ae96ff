// Fuzz driver for the registrar script interpreter on a registry held in memory
// (tests/support/script_host_environment.h). The input is the script text. Each
// script is registered on a registry that already holds keys of others, and when it
// registers, unregistered again; a script with bytes of 0x81 and above runs in a double-byte
// code page too.
//
// What must hold for every script:
//   - the result is S_OK, E_OUTOFMEMORY, E_FAIL or DISP_E_EXCEPTION, and every key the
//     interpreter opened is closed once, every block of task memory given back (leaks of
//     ordinary memory are reported by the fuzzer itself);
//   - a script that is refused changes nothing; the same script with its n-th allocation
//     failing is refused with E_OUTOFMEMORY and changes nothing either;
//   - a script that registers unregisters with S_OK, and unregistering only removes: every
//     key and value left was there after registering;
//   - unregistering leaves no key that was not there before the script registered, unless
//     the script keeps it with "NoRemove". For a script that holds the word, the same script
//     with every "NoRemove" blanked out is run as well and must leave no new key;
//   - unregistering a script that never registered (as unregistration meets the registry when
//     registration failed or never ran), also with one of its allocations failing: an
//     unregistration that is refused changes nothing.
// The native test registry_script_mutation_test feeds this driver scripts mutated from valid
// ones, so the suite checks these properties without libFuzzer too.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "registry_script_parser.h"
#include "replacement_map.h"
#include "script_host_environment.h"

namespace {

void Check(bool condition, const char* what, const std::string& detail = std::string()) {
    if (condition) return;
    fprintf(stderr, "registrar script: %s\n%s\n", what, detail.c_str());
    abort();
}

// Keys of others that the script may meet: a class, a key with a named value, a subtree.
void Populate(MemoryRegistry& registry) {
    registry.AddString("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}", "", "another class");
    registry.AddString("HKCU\\Software\\Test", "Kept", "x");
    registry.AddKey("HKLM\\A\\B\\Foreign");
}

const std::string& PopulatedDump() {
    static const std::string kDump = [] {
        MemoryRegistry registry;
        Populate(registry);
        return registry.Dump();
    }();
    return kDump;
}

// The lines of a dump. A value may hold line ends of its own, so a line is not always a whole
// entry; two dumps of which one only lacks entries of the other still compare line by line.
std::set<std::string> Lines(const std::string& dump) {
    std::set<std::string> lines;
    for (size_t start = 0; start < dump.size();) {
        size_t end = dump.find('\n', start);
        lines.insert(dump.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The key paths of a registry, without regard to case (the registry compares names so).
std::set<std::string> FoldedKeyPaths(const MemoryRegistry& registry) {
    std::set<std::string> keys;
    for (std::string path : registry.KeyPaths()) {
        for (char& c : path) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
        }
        keys.insert(path);
    }
    return keys;
}

const std::set<std::string>& PopulatedKeys() {
    static const std::set<std::string> kKeys = [] {
        MemoryRegistry registry;
        Populate(registry);
        return FoldedKeyPaths(registry);
    }();
    return kKeys;
}

const ReplacementMap& Replacements() {
    static ReplacementMap* map = [] {
        ReplacementMap* m = new ReplacementMap;
        m->AddQuoted(L"Module", L"C:\\it's\\Brantovix.dll");
        m->Add(L"EXTRA", L"extra value");
        m->Add(L"Second", L"second value");
        return m;
    }();
    return *map;
}

bool IsResult(ScriptResult result) {
    return result == kScriptSucceeded || result == kScriptOutOfMemory || result == kScriptFailed ||
           result == kScriptException;
}

struct Outcome {
    ScriptResult result;
    long allocations;
};

// One call of ProcessScript on `registry`, with the n-th task-memory allocation failing
// (-1: none); the keys and the task memory must be balanced after it.
Outcome Process(MemoryRegistry& registry, const HostCodePage& codePage, const std::string& script, bool registering,
                int failAfter) {
    const ReplacementMap& replacements = Replacements();
    const int blocks = TaskMemoryBlocks().stillOpen();
    RegistryScriptParser parser(registry, replacements, codePage);
    FailTaskMemoryAfter(failAfter);
    Outcome outcome{parser.ProcessScript(script.c_str(), registering), 0};
    outcome.allocations = TaskMemoryAllocationCount();
    FailTaskMemoryAfter(-1);
    Check(IsResult(outcome.result), "a result outside S_OK, E_OUTOFMEMORY, E_FAIL and DISP_E_EXCEPTION");
    Check(registry.Keys().Faults().empty(), "a key not closed once", registry.Keys().Faults());
    Check(TaskMemoryBlocks().stillOpen() == blocks, "task memory not given back");
    return outcome;
}

// Registers and unregisters `script`; returns whether it registered.
bool RegisterAndUnregister(const HostCodePage& codePage, const std::string& script, bool mayKeepKeys,
                           uint32_t failureChoice) {
    MemoryRegistry registry;
    Populate(registry);
    const Outcome registered = Process(registry, codePage, script, true, -1);
    if (registered.result != kScriptSucceeded) {
        Check(registry.Dump() == PopulatedDump(), "a refused script changed the registry");
        return false;
    }
    const std::string afterRegistering = registry.Dump();

    const Outcome unregistered = Process(registry, codePage, script, false, -1);
    Check(unregistered.result == kScriptSucceeded, "a registered script does not unregister");
    const std::string afterUnregistering = registry.Dump();
    const std::set<std::string> registeredLines = Lines(afterRegistering);
    for (const std::string& line : Lines(afterUnregistering)) {
        Check(registeredLines.count(line) != 0, "unregistering wrote something", line);
    }
    if (!mayKeepKeys) {
        for (const std::string& key : FoldedKeyPaths(registry)) {
            Check(PopulatedKeys().count(key) != 0, "unregistering left a key the script created", key);
        }
    }

    // The same registration with one of its allocations failing.
    if (registered.allocations > 0) {
        MemoryRegistry again;
        Populate(again);
        const int failAfter = static_cast<int>(failureChoice % registered.allocations);
        const Outcome failed = Process(again, codePage, script, true, failAfter);
        Check(failed.result == kScriptOutOfMemory, "a failed allocation not reported as E_OUTOFMEMORY");
        Check(again.Dump() == PopulatedDump(), "a registration without memory changed the registry");
    }
    return true;
}

// Unregisters `script` from a registry it was never registered on, then again with one of its
// allocations failing.
void UnregisterWithoutRegistering(const HostCodePage& codePage, const std::string& script, uint32_t failureChoice) {
    MemoryRegistry registry;
    Populate(registry);
    const Outcome unregistered = Process(registry, codePage, script, false, -1);
    if (unregistered.result != kScriptSucceeded) {
        Check(registry.Dump() == PopulatedDump(), "a refused unregistration changed the registry");
        return;
    }
    if (unregistered.allocations > 0) {
        MemoryRegistry again;
        Populate(again);
        const int failAfter = static_cast<int>(failureChoice % unregistered.allocations);
        const Outcome failed = Process(again, codePage, script, false, failAfter);
        if (failed.result != kScriptSucceeded) {
            Check(again.Dump() == PopulatedDump(), "an unregistration without memory changed the registry");
        }
    }
}

// Every occurrence of the letters of "NoRemove", in any case, blanked out.
bool BlankNoRemove(std::string& text) {
    static const char kWord[] = "noremove";
    const size_t n = sizeof kWord - 1;
    bool found = false;
    for (size_t i = 0; i + n <= text.size(); ++i) {
        size_t k = 0;
        while (k < n && (text[i + k] | 0x20) == kWord[k]) ++k;
        if (k < n) continue;
        text.replace(i, n, n, ' ');
        found = true;
    }
    return found;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const HostCodePage kSingleByte(false);
    static const HostCodePage kDoubleByte(true);
    // The interpreter reads a zero-terminated text: a zero byte in the input ends the script.
    std::string script(reinterpret_cast<const char*>(data), size);
    script.resize(strlen(script.c_str()));
    uint32_t failureChoice = 0;
    for (size_t i = 0; i < size; ++i) failureChoice = failureChoice * 31 + data[i];

    std::string withoutNoRemove = script;
    const bool keeps = BlankNoRemove(withoutNoRemove);
    bool highBytes = false;
    for (char c : script) highBytes = highBytes || static_cast<unsigned char>(c) >= 0x81;

    for (const HostCodePage* codePage : {&kSingleByte, &kDoubleByte}) {
        if (codePage == &kDoubleByte && !highBytes) break;
        RegisterAndUnregister(*codePage, script, keeps, failureChoice);
        if (keeps) RegisterAndUnregister(*codePage, withoutNoRemove, false, failureChoice);
        UnregisterWithoutRegistering(*codePage, script, failureChoice);
    }
    // The task-memory ledger remembers every block it has seen; over millions of inputs it
    // would only grow (and the fuzzer would take that for a leak), so it starts afresh after
    // each input, all of whose blocks were checked to be given back.
    const_cast<HandleLedger&>(TaskMemoryBlocks()) = HandleLedger();
    return 0;
}
