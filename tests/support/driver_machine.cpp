#include "driver_machine.h"

#include "driver_extensions.h"
#include "registry_keys.h"

namespace driver_fixtures {

const char kCacheKey[] = "SOFTWARE\\Orvane\\Service\\DCOM\\Cache";

std::vector<ListedFile> ListDriverFiles() {
    std::vector<ListedFile> files;
    for (const std::string& directory : GetDriverDirectories().InScanOrder()) {
        for (const char* extension : kDriverExtensions) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((directory + "\\*" + extension).c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) continue;
            do {
                CharUpperA(found.cFileName);
                files.push_back({directory, found.cFileName, found.ftLastWriteTime});
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    return files;
}

PlacedFiles::~PlacedFiles() {
    RemoveAll();
}

bool PlacedFiles::EnsureDirectory(const std::string& directory) {
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!CreateDirectoryA(directory.c_str(), nullptr)) return false;
    directories_.push_back(directory);
    return true;
}

std::string PlacedFiles::Place(const std::string& directory, const std::string& name, const std::vector<uint8_t>& bytes,
                               const FILETIME& lastWrite) {
    if (!EnsureDirectory(directory)) return "";
    const std::string path = directory + "\\" + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    DWORD written = 0;
    bool done = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                  written == bytes.size());
    done = done && SetFileTime(file, nullptr, nullptr, &lastWrite);
    CloseHandle(file);
    bool known = false;
    for (const std::string& placed : files_) known = known || lstrcmpiA(placed.c_str(), path.c_str()) == 0;
    if (!known) files_.push_back(path);
    return done ? path : "";
}

void PlacedFiles::RemoveAll() {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    files_.clear();
    for (auto it = directories_.rbegin(); it != directories_.rend(); ++it) RemoveDirectoryA(it->c_str());
    directories_.clear();
}

bool ReadCacheValue(const char* name, std::vector<uint8_t>* bytes, DWORD* type) {
    bytes->clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0, valueType = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &valueType, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        bytes->assign(size, 0xCC);
        DWORD read = size;
        status = RegQueryValueExA(key, name, nullptr, &valueType, bytes->data(), &read);
        bytes->resize(status == ERROR_SUCCESS ? read : 0);
    }
    RegCloseKey(key);
    if (type) *type = valueType;
    return status == ERROR_SUCCESS;
}

bool WriteCacheValue(const char* name, DWORD type, const std::vector<uint8_t>& bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool CacheKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteCacheKey() {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kCacheKey);
}

bool ReadCacheTree(std::vector<RegistryTreeValue>* values, std::vector<std::string>* keys) {
    return ReadRegistryTree(HKEY_LOCAL_MACHINE, kCacheKey, values, keys);
}

CacheValueMap ReadCacheValues() {
    CacheValueMap values;
    std::vector<RegistryTreeValue> tree;
    ReadCacheTree(&tree);
    for (const RegistryTreeValue& value : tree) {
        if (value.key.empty()) values[value.name] = {value.type, value.data};
    }
    return values;
}

CacheKeyBackup::CacheKeyBackup() : existed_(false) {
    existed_ = ReadCacheTree(&values_, &keys_);
}

void WriteCacheTree(const std::vector<RegistryTreeValue>& values, const std::vector<std::string>& keys) {
    DeleteCacheKey();
    for (const std::string& below : keys) {
        const std::string path = below.empty() ? std::string(kCacheKey) : std::string(kCacheKey) + "\\" + below;
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            continue;
        }
        for (const RegistryTreeValue& value : values) {
            if (value.key != below) continue;
            RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        }
        RegCloseKey(key);
    }
}

CacheKeyBackup::~CacheKeyBackup() {
    DeleteCacheKey();
    if (existed_) WriteCacheTree(values_, keys_);
}

}   // namespace driver_fixtures
