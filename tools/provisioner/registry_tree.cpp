#include "registry_tree.h"

#include "provisioner_support.h"

namespace provisioner {

bool CreateKeyPath(HKEY root, const char* rootName, const std::string& path, Record* record, HKEY* out) {
    HKEY current = root;
    std::string done;
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(at, end - at);
        at = end + 1;
        done += (done.empty() ? "" : "\\") + part;
        HKEY next = nullptr;
        DWORD disposition = 0;
        LONG status =
            RegCreateKeyExA(current, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, &disposition);
        if (current != root) RegCloseKey(current);
        if (status != ERROR_SUCCESS)
            return Fail(std::string("cannot create key ") + rootName + "\\" + done + ": " + LastErrorText(status));
        current = next;
        if (record && disposition == REG_CREATED_NEW_KEY && !record->Add({"key", rootName, done})) {
            RegCloseKey(current);
            return false;
        }
    }
    *out = current;
    return true;
}

bool SetStringValue(HKEY root, const char* rootName, const std::string& path, const std::string& name,
                    const std::string& data, Record* record) {
    HKEY key = nullptr;
    if (!CreateKeyPath(root, rootName, path, record, &key)) return false;
    bool done = true;
    if (record && RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        done = Fail(std::string("value ") + name + " of " + rootName + "\\" + path +
                    " is already there: it was not put there by the provisioner");
    } else if (record && !record->Add({"value", rootName, path, name, data})) {
        done = false;
    } else {
        LONG status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>(data.size() + 1));
        if (status != ERROR_SUCCESS)
            done = Fail("cannot set value " + name + " of " + rootName + "\\" + path + ": " + LastErrorText(status));
    }
    RegCloseKey(key);
    return done;
}

}   // namespace provisioner
