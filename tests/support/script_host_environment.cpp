#include "script_host_environment.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {

int g_allocationsLeft = -1;
long g_allocationCount = 0;

HandleLedger& Blocks() {
    static HandleLedger blocks;
    return blocks;
}

const void* AsValue(ScriptKey key) {
    return reinterpret_cast<const void*>(key);
}

// The first name of a key's subkeys or values (null: it has none) as the enumeration calls hand
// it out: with its terminator, and only when the whole of it fits the caller's buffer.
long CopyFirstName(const std::string* first, char* name, uint32_t capacity) {
    if (!first) return kRegistryNoMoreItems;
    if (first->size() + 1 > capacity) return kRegistryMoreData;
    memcpy(name, first->c_str(), first->size() + 1);
    return kRegistrySuccess;
}

bool TakeAllocation() {
    ++g_allocationCount;
    if (g_allocationsLeft == 0) return false;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    return true;
}

const long kInvalidHandle = 6;                                     // ERROR_INVALID_HANDLE
const long kInvalidParameter = 87;                                 // ERROR_INVALID_PARAMETER
const int32_t kOverflow = static_cast<int32_t>(0x8002000Au);       // DISP_E_OVERFLOW
const int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);   // DISP_E_TYPEMISMATCH

const struct {
    ScriptKey key;
    const char* name;
} kRootNames[] = {
    {kClassesRootKey, "HKCR"},     {kCurrentUserKey, "HKCU"},   {kLocalMachineKey, "HKLM"}, {kUsersKey, "HKU"},
    {kPerformanceDataKey, "HKPD"}, {kCurrentConfigKey, "HKCC"}, {kDynDataKey, "HKDD"},
};

}   // namespace

void* TaskMemAlloc(size_t size) {
    if (!TakeAllocation()) return nullptr;
    void* block = malloc(size ? size : 1);
    if (block) Blocks().Opened(block);
    return block;
}

void* TaskMemRealloc(void* block, size_t size) {
    if (!TakeAllocation()) return nullptr;
    // Given back before realloc, which may free it; taken again when realloc fails.
    if (block) Blocks().Closed(block);
    void* resized = realloc(block, size ? size : 1);
    Blocks().Opened(resized ? resized : block);
    return resized;
}

void TaskMemFree(void* block) {
    if (!block) return;
    Blocks().Closed(block);
    free(block);
}

const HandleLedger& TaskMemoryBlocks() {
    return Blocks();
}

void FailTaskMemoryAfter(int count) {
    g_allocationsLeft = count;
    g_allocationCount = 0;
}

long TaskMemoryAllocationCount() {
    return g_allocationCount;
}

const char* HostCodePage::Next(const char* text) const {
    if (!*text) return text;
    if (doubleByte && IsLeadByte(static_cast<unsigned char>(*text)) && text[1]) return text + 2;
    return text + 1;
}

int HostCodePage::CompareNoCase(const char* left, const char* right) const {
    for (;; ++left, ++right) {
        int a = static_cast<unsigned char>(*left);
        int b = static_cast<unsigned char>(*right);
        if (a >= 'a' && a <= 'z') a -= 'a' - 'A';
        if (b >= 'a' && b <= 'z') b -= 'a' - 'A';
        if (a != b) return a < b ? -1 : 1;
        if (!a) return 0;
    }
}

int HostCodePage::WideToAnsi(const wchar_t* wide, char* out, int capacity) const {
    std::string bytes;
    for (const wchar_t* walk = wide; *walk; ++walk) {
        uint32_t c = static_cast<uint32_t>(*walk);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (doubleByte && c <= 0xFFFF && IsLeadByte(static_cast<unsigned char>(c >> 8)) && (c & 0xFF)) {
            bytes += static_cast<char>(c >> 8);
            bytes += static_cast<char>(c & 0xFF);
        } else {
            bytes += '?';
        }
    }
    int needed = static_cast<int>(bytes.size() + 1);
    if (capacity == 0) return needed;
    if (capacity < needed) return 0;
    memcpy(out, bytes.c_str(), bytes.size() + 1);
    return needed;
}

int32_t HostCodePage::ParseUnsigned(const char* text, uint32_t* value) const {
    while (*text == ' ') ++text;
    if (*text < '0' || *text > '9') return kTypeMismatch;
    uint64_t number = 0;
    while (*text >= '0' && *text <= '9') {
        number = number * 10 + static_cast<uint64_t>(*text++ - '0');
        if (number > 0xFFFFFFFFu) return kOverflow;
    }
    while (*text == ' ') ++text;
    if (*text) return kTypeMismatch;
    *value = static_cast<uint32_t>(number);
    return 0;
}

MemoryRegistry::MemoryRegistry() : nextHandle(0x1000) {
    for (const auto& root : kRootNames) {
        auto node = std::make_shared<Node>();
        node->name = root.name;
        node->path = root.name;
        roots[root.key] = node;
    }
}

MemoryRegistry::~MemoryRegistry() {}

std::string MemoryRegistry::Fold(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    }
    return folded;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Resolve(ScriptKey key, bool* writable) const {
    auto root = roots.find(key);
    if (root != roots.end()) {
        *writable = true;
        return root->second;
    }
    auto handle = handles.find(key);
    if (handle == handles.end()) return nullptr;
    *writable = handle->second.writable;
    return handle->second.node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::LiveNode(ScriptKey key, bool* writable, long* error) const {
    bool canWrite = false;
    auto node = Resolve(key, &canWrite);
    if (!node) {
        *error = kInvalidHandle;
        return nullptr;
    }
    if (node->deleted) {
        *error = kRegistryKeyDeleted;
        return nullptr;
    }
    if (writable) *writable = canWrite;
    return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindChild(const Node& node, const char* name) const {
    std::string folded = Fold(name);
    for (const auto& child : node.subKeys) {
        if (Fold(child->name) == folded) return child;
    }
    return nullptr;
}

ScriptKey MemoryRegistry::NewHandle(const std::shared_ptr<Node>& node, bool writable) {
    ScriptKey key = nextHandle++;
    handles[key] = Handle{node, writable};
    keys.Opened(AsValue(key));
    return key;
}

long MemoryRegistry::OpenKey(ScriptKey parent, const char* name, RegistryAccess access, ScriptKey* key) {
    long error = kRegistrySuccess;
    auto node = LiveNode(parent, nullptr, &error);
    if (!node) return error;
    auto child = FindChild(*node, name);
    if (!child) return kRegistryFileNotFound;
    if (child->readOnly && access != RegistryAccess::kRead) return kRegistryAccessDenied;
    *key = NewHandle(child, access != RegistryAccess::kRead);
    return kRegistrySuccess;
}

long MemoryRegistry::CreateKey(ScriptKey parent, const char* name, ScriptKey* key) {
    bool writable = false;
    long error = kRegistrySuccess;
    auto node = LiveNode(parent, &writable, &error);
    if (!node) return error;
    if (!*name) return kInvalidParameter;
    if (failCreate.count(Fold(name))) return kRegistryAccessDenied;
    auto child = FindChild(*node, name);
    if (child) {
        if (child->readOnly) return kRegistryAccessDenied;
        *key = NewHandle(child, true);
        return kRegistrySuccess;
    }
    if (!writable) return kRegistryAccessDenied;
    child = std::make_shared<Node>();
    child->name = name;
    child->path = node->path + "\\" + name;
    node->subKeys.push_back(child);
    *key = NewHandle(child, true);
    return kRegistrySuccess;
}

long MemoryRegistry::CloseKey(ScriptKey key) {
    keys.Closed(AsValue(key));
    if (roots.count(key)) return kRegistrySuccess;
    auto handle = handles.find(key);
    if (handle == handles.end()) return kInvalidHandle;
    bool fail = failClose.count(Fold(handle->second.node->name)) != 0;
    handles.erase(handle);
    return fail ? kInvalidHandle : kRegistrySuccess;
}

long MemoryRegistry::SetValue(ScriptKey key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
    bool writable = false;
    long error = kRegistrySuccess;
    auto node = LiveNode(key, &writable, &error);
    if (!node) return error;
    if (!writable) return kRegistryAccessDenied;
    std::string valueName = name ? name : "";
    Value value{valueName, type, std::vector<uint8_t>(data, data + size)};
    for (auto& existing : node->values) {
        if (Fold(existing.name) == Fold(valueName)) {
            existing = value;
            return kRegistrySuccess;
        }
    }
    node->values.push_back(value);
    return kRegistrySuccess;
}

long MemoryRegistry::DeleteValue(ScriptKey key, const char* name) {
    long error = kRegistrySuccess;
    auto node = LiveNode(key, nullptr, &error);
    if (!node) return error;
    std::string valueName = name ? name : "";
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
        if (Fold(it->name) == Fold(valueName)) {
            node->values.erase(it);
            deletions.push_back(node->path + ":" + valueName);
            return kRegistrySuccess;
        }
    }
    return kRegistryFileNotFound;
}

long MemoryRegistry::DeleteKey(ScriptKey parent, const char* name) {
    long error = kRegistrySuccess;
    auto node = LiveNode(parent, nullptr, &error);
    if (!node) return error;
    auto child = FindChild(*node, name);
    if (!child) return kRegistryFileNotFound;
    if (!child->subKeys.empty()) return kRegistryAccessDenied;
    child->deleted = true;
    node->subKeys.erase(std::find(node->subKeys.begin(), node->subKeys.end(), child));
    deletions.push_back(child->path);
    return kRegistrySuccess;
}

long MemoryRegistry::QueryKeyCounts(ScriptKey key, uint32_t* subKeys, uint32_t* values) {
    long error = kRegistrySuccess;
    auto node = LiveNode(key, nullptr, &error);
    if (!node) return error;
    *subKeys = static_cast<uint32_t>(node->subKeys.size());
    *values = static_cast<uint32_t>(node->values.size());
    return kRegistrySuccess;
}

long MemoryRegistry::EnumFirstSubKey(ScriptKey key, char* name, uint32_t capacity) {
    long error = kRegistrySuccess;
    auto node = LiveNode(key, nullptr, &error);
    if (!node) return error;
    return CopyFirstName(node->subKeys.empty() ? nullptr : &node->subKeys.front()->name, name, capacity);
}

long MemoryRegistry::EnumFirstValueName(ScriptKey key, char* name, uint32_t capacity) {
    long error = kRegistrySuccess;
    auto node = LiveNode(key, nullptr, &error);
    if (!node) return error;
    return CopyFirstName(node->values.empty() ? nullptr : &node->values.front().name, name, capacity);
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Walk(const std::string& path, bool create) {
    size_t start = path.find('\\');
    std::string rootName = path.substr(0, start);
    std::shared_ptr<Node> node;
    for (const auto& root : kRootNames) {
        if (rootName == root.name) node = roots[root.key];
    }
    while (node && start != std::string::npos) {
        size_t end = path.find('\\', start + 1);
        std::string name = path.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        auto child = FindChild(*node, name.c_str());
        if (!child && create) {
            child = std::make_shared<Node>();
            child->name = name;
            child->path = node->path + "\\" + name;
            node->subKeys.push_back(child);
        }
        node = child;
        start = end;
    }
    return node;
}

void MemoryRegistry::AddKey(const std::string& path) {
    Walk(path, true);
}

void MemoryRegistry::AddString(const std::string& path, const std::string& valueName, const std::string& text) {
    auto node = Walk(path, true);
    node->values.push_back(
        Value{valueName, kRegistryString, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1)});
}

void MemoryRegistry::MakeReadOnly(const std::string& path) {
    Walk(path, true)->readOnly = true;
}

void MemoryRegistry::DumpNode(const Node& node, std::vector<std::string>& lines) {
    lines.push_back(node.path);
    for (const auto& value : node.values) {
        std::string line = node.path + ":" + (value.name.empty() ? "@" : value.name) + " = ";
        if (value.type == kRegistryString) {
            line += "sz:";
            for (uint8_t byte : value.data) line += byte ? static_cast<char>(byte) : '|';
        } else if (value.type == kRegistryDword && value.data.size() == 4) {
            char text[16];
            snprintf(
                text, sizeof text, "dword:%08x",
                value.data[0] | value.data[1] << 8 | value.data[2] << 16 | static_cast<uint32_t>(value.data[3]) << 24);
            line += text;
        } else {
            line += "hex:";
            for (size_t i = 0; i < value.data.size(); ++i) {
                char text[4];
                snprintf(text, sizeof text, i ? ",%02x" : "%02x", value.data[i]);
                line += text;
            }
        }
        lines.push_back(line);
    }
    for (const auto& child : node.subKeys) DumpNode(*child, lines);
}

std::string MemoryRegistry::Dump() const {
    std::vector<std::string> lines;
    for (const auto& root : roots) {
        for (const auto& child : root.second->subKeys) DumpNode(*child, lines);
        for (const auto& value : root.second->values) {
            lines.push_back(root.second->path + ":" + (value.name.empty() ? "@" : value.name) + " = (value)");
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> MemoryRegistry::KeyPaths() const {
    std::vector<std::string> paths;
    std::vector<const Node*> pending;
    for (const auto& root : roots) {
        for (const auto& child : root.second->subKeys) pending.push_back(child.get());
    }
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        paths.push_back(node->path);
        for (const auto& child : node->subKeys) pending.push_back(child.get());
    }
    return paths;
}
