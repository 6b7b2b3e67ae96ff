#include "server_test_support.h"

#include "registry_tree.h"

#include <vector>

namespace {

const char kMakerKey[] = "SOFTWARE\\Orvane";

}   // namespace

std::string WindowsPath(const char* path) {
    std::string result = path[0] == '/' ? std::string("Z:") + path : path;
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

std::string ServerDllPath() {
    return WindowsPath(BRANTOVIX_DLL);
}

std::wstring Widen(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return std::wstring(wide.data());
}

LoadedServer::LoadedServer() {
    module = LoadLibraryA(ServerDllPath().c_str());
    if (!module) return;
    getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
}

LoadedServer::~LoadedServer() {
    if (module) FreeLibrary(module);
}

std::string DeployedDriverPath() {
    char directory[MAX_PATH] = {};
    GetSystemDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\ORV_DE.VXD";
}

MachineStateGuard::MachineStateGuard()
    : driverFileExisted_(FileExists(DeployedDriverPath())),
      makerKeyExisted_(KeyExists(HKEY_LOCAL_MACHINE, kMakerKey)) {}

MachineStateGuard::~MachineStateGuard() {
    if (!driverFileExisted_) DeleteFileA(DeployedDriverPath().c_str());
    if (!makerKeyExisted_) DeleteKeyTree(HKEY_LOCAL_MACHINE, kMakerKey);
}

DWORD RunProgram(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::string ReadString(HKEY root, const std::string& path, const std::string& name, bool* present) {
    if (present) *present = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    char data[1024] = {};
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return "";
    if (present) *present = true;
    return std::string(data);
}

std::map<std::string, std::string> SnapshotKey(HKEY root, const std::string& path) {
    std::map<std::string, std::string> snapshot;
    std::vector<RegistryTreeValue> values;
    std::vector<std::string> keys;
    if (!ReadRegistryTree(root, path, &values, &keys)) return snapshot;
    auto label = [&path](const std::string& below) { return below.empty() ? path : path + "\\" + below; };
    for (const std::string& below : keys) snapshot[label(below)] = "";
    for (const RegistryTreeValue& value : values) {
        snapshot[label(value.key) + "|" + value.name] =
            std::to_string(value.type) + ":" + std::string(value.data.begin(), value.data.end());
    }
    return snapshot;
}
