// What the registrar script parser needs, built for the host: a registry held in memory, a
// code page (single-byte, or double-byte with lead bytes 0x81-0x9F and 0xE0-0xFC), and task
// memory whose allocations a test can make fail. Keys and task-memory blocks are recorded in
// handle ledgers, so a test can state that everything opened or allocated went back once.
// Used by the interpreter's native tests and by its fuzz driver.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "handle_ledger.h"
#include "registry_target.h"
#include "script_code_page.h"

// Task memory: the next `count` allocations succeed, then every one fails; -1 (the start)
// never fails. Returns the number of allocations made since the last call.
void FailTaskMemoryAfter(int count);
long TaskMemoryAllocationCount();
// Every block TaskMemAlloc or TaskMemRealloc handed out, and every block given back.
const HandleLedger& TaskMemoryBlocks();

class HostCodePage : public ScriptCodePage {
public:
    explicit HostCodePage(bool doubleByte = false) : doubleByte(doubleByte) {}

    static bool IsLeadByte(unsigned char byte) {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }

    const char* Next(const char* text) const override;
    int CompareNoCase(const char* left, const char* right) const override;
    // Characters below 0x80 become one byte; in the double-byte code page a character
    // 0xLLTT with a lead byte LL and a trail TT becomes the two bytes LL TT; others are "?".
    int WideToAnsi(const wchar_t* wide, char* out, int capacity) const override;
    // Decimal digits with blanks around them; more than 32 bits: overflow.
    int32_t ParseUnsigned(const char* text, uint32_t* value) const override;

private:
    bool doubleByte;
};

// A registry in memory with the behaviour the parser meets on the platform: names compare
// without regard to case, a key that has subkeys cannot be deleted, a key opened for reading
// refuses writes, handles stay valid (and refuse work) after their key is deleted.
class MemoryRegistry : public RegistryTarget {
public:
    MemoryRegistry();
    ~MemoryRegistry() override;

    long OpenKey(ScriptKey parent, const char* name, RegistryAccess access, ScriptKey* key) override;
    long CreateKey(ScriptKey parent, const char* name, ScriptKey* key) override;
    long CloseKey(ScriptKey key) override;
    long SetValue(ScriptKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) override;
    long DeleteValue(ScriptKey key, const char* name) override;
    long DeleteKey(ScriptKey parent, const char* name) override;
    long QueryKeyCounts(ScriptKey key, uint32_t* subKeys, uint32_t* values) override;
    long EnumFirstSubKey(ScriptKey key, char* name, uint32_t capacity) override;
    long EnumFirstValueName(ScriptKey key, char* name, uint32_t capacity) override;

    // Test set-up and inspection, by paths such as "HKCR\CLSID\{...}".
    void AddKey(const std::string& path);
    void AddString(const std::string& path, const std::string& valueName, const std::string& text);
    void MakeReadOnly(const std::string& path);   // opens for reading only; writes refused
    void FailCreate(const std::string& name) { failCreate.insert(Fold(name)); }
    void FailClose(const std::string& name) { failClose.insert(Fold(name)); }

    // Every key and value under every root, one line each, sorted:
    //   HKCR\A\B
    //   HKCR\A\B:@ = sz:text          (the default value)
    //   HKCR\A\B:Name = dword:12345678 / hex:0a,ff / sz:text
    std::string Dump() const;
    // The path of every key under every root, such as "HKCR\A\B": unlike the lines of Dump,
    // one entry per key whatever bytes its name or its values hold.
    std::vector<std::string> KeyPaths() const;
    // Paths of deleted keys and "path:name" of deleted values, in order.
    const std::vector<std::string>& Deletions() const { return deletions; }
    void ClearDeletions() { deletions.clear(); }
    // Every key handed out by OpenKey or CreateKey, and every CloseKey (a predefined root key
    // that is closed counts as closed without being opened).
    const HandleLedger& Keys() const { return keys; }

private:
    struct Value {
        std::string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    struct Node {
        std::string name;
        std::string path;
        bool deleted = false;
        bool readOnly = false;
        std::vector<Value> values;
        std::vector<std::shared_ptr<Node>> subKeys;
    };
    struct Handle {
        std::shared_ptr<Node> node;
        bool writable;
    };

    static std::string Fold(const std::string& text);
    std::shared_ptr<Node> Resolve(ScriptKey key, bool* writable) const;
    // The node behind a key the calls may work on, and whether it was opened for writing
    // (writable may be null); null with the platform's error for a handle never handed out or
    // already closed (ERROR_INVALID_HANDLE) and for a key deleted since (ERROR_KEY_DELETED).
    std::shared_ptr<Node> LiveNode(ScriptKey key, bool* writable, long* error) const;
    std::shared_ptr<Node> FindChild(const Node& node, const char* name) const;
    std::shared_ptr<Node> Walk(const std::string& path, bool create);
    ScriptKey NewHandle(const std::shared_ptr<Node>& node, bool writable);
    static void DumpNode(const Node& node, std::vector<std::string>& lines);

    std::map<ScriptKey, std::shared_ptr<Node>> roots;
    std::map<ScriptKey, Handle> handles;
    ScriptKey nextHandle;
    std::set<std::string> failCreate;
    std::set<std::string> failClose;
    std::vector<std::string> deletions;
    HandleLedger keys;
};
