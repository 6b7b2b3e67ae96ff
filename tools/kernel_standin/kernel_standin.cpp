// The kernel stand-in: a PE DLL named ORV_DE.VXD. In Windows 98 mode the platform here loads
// it for "\\.\ORV_DE.vxd" and routes DeviceIoControl on the handle to its export of that
// name. It hosts the real LE image of the enumerator driver on the emulated kernel, with the
// system lists of a machine description, so that a client talks to the real driver.
//
// Loading the DLL is loading the driver: the attach reads the description beside the DLL,
// loads the image, puts the driver into both lists, and sends SYS_DYNAMIC_DEVICE_INIT and
// the open notification (DIOC_OPEN), as the system does when a client opens the device; if
// any of that fails, the attach fails, and with it the client's open. The detach sends the
// close notification and SYS_DYNAMIC_DEVICE_EXIT. Test and demonstration equipment only.
#include <windows.h>

#include <string>

#include "emulated_kernel.h"
#include "enumerator_protocol.h"
#include "machine_file.h"

namespace {

using emulated_kernel::Kernel;

constexpr char kDescriptionName[] = "ORV_DE.MACHINE";
constexpr char kDefaultImageName[] = "ORV_DE.LE";

bool g_driverOpen = false;
// Requests may come from any thread; the emulated kernel serves one at a time.
CRITICAL_SECTION g_requestLock;

std::string DirectoryOf(HMODULE module) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return std::string();
    std::string directory(path, length);
    size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

bool ReadText(const std::string& path, std::string* text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= (1u << 20);
    if (ok) {
        text->resize(size);
        DWORD got = 0;
        ok = ReadFile(file, &(*text)[0], size, &got, nullptr) && got == size;
    }
    CloseHandle(file);
    return ok;
}

bool IsAbsolute(const std::string& path) {
    return (path.size() > 1 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

void Report(const std::string& what) {
    std::string line = "ORV_DE.VXD kernel stand-in: " + what + "\n";
    OutputDebugStringA(line.c_str());
}

bool OpenDriver(HMODULE self) {
    const std::string directory = DirectoryOf(self);
    std::string text, error;
    provisioner::Machine description;
    if (!ReadText(directory + kDescriptionName, &text)) {
        Report("cannot read " + directory + kDescriptionName);
        return false;
    }
    if (!provisioner::ParseMachineFile(text, &description, &error, provisioner::MachineText::kStandinDescription)) {
        Report(std::string(kDescriptionName) + " " + error);
        return false;
    }
    std::string image = description.image.empty() ? kDefaultImageName : description.image;
    if (!IsAbsolute(image)) image = directory + image;

    Kernel& kernel = Kernel::Instance();
    if (!kernel.LoadDriver(image, &error)) {
        Report(error);
        return false;
    }
    provisioner::AddLoadedDriver(&description, kernel.ModuleName(), kernel.DdbName());
    kernel.SetLists(description.modules, description.devices);

    if (kernel.Control(emulated_kernel::kSysDynamicDeviceInit).Carry()) {
        Report("the driver refused SYS_DYNAMIC_DEVICE_INIT");
        kernel.UnloadDriver();
        return false;
    }
    if (kernel.DeviceIoControl(ENUMDRV_DIOC_OPEN, nullptr, 0, nullptr, 0, nullptr) != ENUMDRV_STATUS_SUCCESS) {
        Report("the driver refused the open");
        kernel.Control(emulated_kernel::kSysDynamicDeviceExit);
        kernel.UnloadDriver();
        return false;
    }
    for (const std::string& fault : kernel.TakeFaults()) Report("driver fault: " + fault);
    g_driverOpen = true;
    return true;
}

void CloseDriver() {
    if (!g_driverOpen) return;
    Kernel& kernel = Kernel::Instance();
    kernel.DeviceIoControl(ENUMDRV_DIOC_CLOSEHANDLE, nullptr, 0, nullptr, 0, nullptr);
    kernel.Control(emulated_kernel::kSysDynamicDeviceExit);
    kernel.UnloadDriver();
    g_driverOpen = false;
}

}   // namespace

extern "C" BOOL WINAPI StandinDeviceIoControl(DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                                              DWORD outputSize, LPDWORD bytesReturned, LPOVERLAPPED) {
    if (!g_driverOpen) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    EnterCriticalSection(&g_requestLock);
    Kernel& kernel = Kernel::Instance();
    uint32_t status =
        kernel.DeviceIoControl(code, input, inputSize, output, outputSize, reinterpret_cast<uint32_t*>(bytesReturned));
    // What the driver did wrong is reported.
    for (const std::string& fault : kernel.TakeFaults()) Report("driver fault: " + fault);
    LeaveCriticalSection(&g_requestLock);
    if (status == ENUMDRV_STATUS_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g_requestLock);
        if (OpenDriver(instance)) return TRUE;
        DeleteCriticalSection(&g_requestLock);
        return FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        CloseDriver();
        DeleteCriticalSection(&g_requestLock);
    }
    return TRUE;
}
