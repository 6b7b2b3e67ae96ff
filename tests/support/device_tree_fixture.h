// Device trees of a test's own in the platform's real registry: device nodes under
// HKEY_DYN_DATA "Config Manager\Enum" (held in the platform server's memory, written through
// the API), hardware keys under HKEY_LOCAL_MACHINE "Enum" and class keys under
// "System\CurrentControlSet\Services\Class". Every key carries the process's tag and is
// removed with the tree, and so are the three parent keys when the tree created them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry_keys.h"

namespace device_tree_fixture {

const char kDeviceTree[] = "Config Manager\\Enum";
const char kEnum[] = "Enum";
const char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class";

// Removes a key on destruction if it was not there at construction and holds nothing then.
class CreatedIfMissing {
public:
    CreatedIfMissing(HKEY root, const std::string& path) : root_(root), path_(path), existed_(KeyExists(root, path)) {}
    ~CreatedIfMissing() {
        if (!existed_) RegDeleteKeyA(root_, path_.c_str());   // fails while it has subkeys
    }

private:
    HKEY root_;
    std::string path_;
    bool existed_;
};

// A device tree of this test's own: node N points at hardware key TAG\N, whose "Driver"
// names class TAG\CLASS.
class DeviceTree {
public:
    DeviceTree()
        : tag_("BTVX" + std::to_string(GetCurrentProcessId())),
          treeKey_(HKEY_DYN_DATA, kDeviceTree),
          enumKey_(HKEY_LOCAL_MACHINE, kEnum),
          classKey_(HKEY_LOCAL_MACHINE, kClassRoot) {}
    ~DeviceTree() {
        for (const std::string& node : nodes_) DeleteKeyTree(HKEY_DYN_DATA, NodePath(node));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kEnum) + "\\" + tag_);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kClassRoot) + "\\" + tag_);
    }

    std::string NodePath(const std::string& node) const { return std::string(kDeviceTree) + "\\" + tag_ + "_" + node; }
    std::string HardwareKey(const std::string& node) const { return tag_ + "\\" + node; }
    std::string ClassName(const std::string& driverClass) const { return tag_ + "\\" + driverClass; }
    std::string HardwarePath(const std::string& node) const { return std::string(kEnum) + "\\" + HardwareKey(node); }
    std::string ClassPath(const std::string& driverClass) const {
        return std::string(kClassRoot) + "\\" + ClassName(driverClass);
    }

    // A device node without values.
    void AddNode(const std::string& node) {
        nodes_.push_back(node);
        CreateKey(HKEY_DYN_DATA, NodePath(node));
    }
    // The whole chain of one node: device node, hardware key, "Driver" naming the class key.
    void AddChain(const std::string& node, const std::string& driverClass) {
        AddNode(node);
        SetString(HKEY_DYN_DATA, NodePath(node), "HardWareKey", HardwareKey(node));
        SetString(HKEY_LOCAL_MACHINE, HardwarePath(node), "Driver", ClassName(driverClass));
        CreateKey(HKEY_LOCAL_MACHINE, ClassPath(driverClass));
    }
    void SetClassValue(const std::string& driverClass, const char* name, const std::string& text) {
        SetString(HKEY_LOCAL_MACHINE, ClassPath(driverClass), name, text);
    }

    static void CreateKey(HKEY root, const std::string& path) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
            << path;
        RegCloseKey(key);
    }
    // Stores data bytes as they are: no terminator is added.
    static void SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
            << path;
        LONG result = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                     static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, result) << path << " " << name;
    }
    static void DeleteValue(HKEY root, const std::string& path, const char* name) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, name));
        RegCloseKey(key);
    }
    static void SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
        SetValue(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }

private:
    std::string tag_;
    // Declared before the trees so that they are removed after them.
    CreatedIfMissing treeKey_, enumKey_, classKey_;
    std::vector<std::string> nodes_;
};

}   // namespace device_tree_fixture
