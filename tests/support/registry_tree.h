// A registry key's whole tree read back, for the tests that check what the product stored or
// left behind: the one reader of a tree, with a text form for comparing trees whole.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "owner.h"

// One value of the tree: the path of its key below the tree's root ("" for the root itself),
// its name, type and data.
struct RegistryTreeValue {
    std::string key;
    std::string name;
    DWORD type;
    std::vector<uint8_t> data;
};

namespace registry_tree_detail {

inline void ReadKey(HKEY key, const std::string& below, std::vector<RegistryTreeValue>* values,
                    std::vector<std::string>* keys) {
    if (keys) keys->push_back(below);
    std::vector<char> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = 0;
        if (RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        RegistryTreeValue value = {below, std::string(name.data(), nameLength), type, std::vector<uint8_t>(size)};
        DWORD read = size;
        if (RegQueryValueExA(key, value.name.c_str(), nullptr, &value.type, value.data.data(), &read) !=
            ERROR_SUCCESS) {
            continue;
        }
        value.data.resize(read);
        values->push_back(value);
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::string subkey(name.data(), nameLength);
        RegistryKey child;
        if (!child.Opened(RegOpenKeyExA(key, subkey.c_str(), 0, KEY_READ, child.receive()) == ERROR_SUCCESS)) continue;
        ReadKey(child.get(), below.empty() ? subkey : below + "\\" + subkey, values, keys);
    }
}

}   // namespace registry_tree_detail

// Every value of root\path and of the keys under it, keys in the order the platform lists them,
// depth first; `keys`, when given, receives every key's path below root\path ("" first). False
// when the key is absent.
inline bool ReadRegistryTree(HKEY root, const std::string& path, std::vector<RegistryTreeValue>* values,
                             std::vector<std::string>* keys = nullptr) {
    values->clear();
    if (keys) keys->clear();
    RegistryKey key;
    if (!key.Opened(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.receive()) == ERROR_SUCCESS)) return false;
    registry_tree_detail::ReadKey(key.get(), "", values, keys);
    return true;
}

// The tree as text, sorted, one line each: every key as its path (path, then "\" and the path
// below), every value as "KEY:NAME = " and its data ("@" names the default value): "sz:" and
// the string with each zero shown as "|", "dword:%08lx" for a DWORD of 4 bytes, otherwise "hex:"
// and the bytes. Empty when the key is missing.
inline std::string RegistryTreeText(HKEY root, const std::string& path) {
    std::vector<RegistryTreeValue> values;
    std::vector<std::string> keys;
    if (!ReadRegistryTree(root, path, &values, &keys)) return "";
    auto full = [&path](const std::string& below) { return below.empty() ? path : path + "\\" + below; };
    std::vector<std::string> lines;
    for (const std::string& below : keys) lines.push_back(full(below));
    for (const RegistryTreeValue& value : values) {
        std::string line = full(value.key) + ":" + (value.name.empty() ? "@" : value.name) + " = ";
        char text[16];
        if (value.type == REG_SZ) {
            line += "sz:";
            for (uint8_t byte : value.data) line += byte ? static_cast<char>(byte) : '|';
        } else if (value.type == REG_DWORD && value.data.size() == 4) {
            DWORD number;
            memcpy(&number, value.data.data(), 4);
            snprintf(text, sizeof text, "dword:%08lx", static_cast<unsigned long>(number));
            line += text;
        } else {
            line += "hex:";
            for (size_t i = 0; i < value.data.size(); ++i) {
                snprintf(text, sizeof text, i ? ",%02x" : "%02x", value.data[i]);
                line += text;
            }
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}
