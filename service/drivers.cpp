#include "drivers.h"

#include <string.h>

#include "data_list.h"
#include "driver_inventory.h"
#include "server_module.h"

namespace {

const char kComponentInformation[] = "Driver Class";
const char kDatePrefix[] = "DATE-";
const char kDriverFileName[] = "\\ORV_DE.VXD";
const WORD kDriverResourceId = 201;
const char kDriverResourceType[] = "DRIVER";

// Row texts as the inventory hands them out: file names of up to 511 characters (the date key
// adds "DATE-"), stamps of up to 127, dates of ten characters for a four-digit year.
const DWORD kNameBufferSize = 512;
const DWORD kStampBufferSize = 128;
const DWORD kDateKeyBufferSize = sizeof(kDatePrefix) - 1 + kNameBufferSize;
const DWORD kDateBufferSize = 64;

bool IsWindows9x() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);   // 148
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

}  // namespace

DriversBody::DriversBody() : dataList_(new DataList) {
    if (!dataList_ || !IsWindows9x()) return;
    if (!DeployEnumeratorDriver()) return;
    DriverInventory* inventory = new DriverInventory(0);
    if (!inventory) return;
    AddInventoryRows(*inventory);
    delete inventory;
}

void DriversBody::AddInventoryRows(const DriverInventory& inventory) {
    char* name = new char[kNameBufferSize];
    char* stamp = new char[kStampBufferSize];
    char* dateKey = new char[kDateKeyBufferSize];
    char* date = new char[kDateBufferSize];
    if (name && stamp && dateKey && date) {
        DWORD count = inventory.GetItemCount();
        for (DWORD index = 1; index <= count; ++index) {
            inventory.GetItemNameAndStamp(name, stamp, index);
            dataList_->AddAnsiPair(name, stamp);
            lstrcpyA(dateKey, kDatePrefix);
            lstrcatA(dateKey, name);
            inventory.GetItemDate(date, index);
            dataList_->AddAnsiPair(dateKey, date);
        }
    }
    delete[] name;
    delete[] stamp;
    delete[] dateKey;
    delete[] date;
}

DriversBody::~DriversBody() { delete dataList_; }

int DriversBody::DeployEnumeratorDriver() {
    const DWORD kPathSize = 512;
    char* path = new char[kPathSize];
    if (!path) return 0;
    UINT length = GetSystemDirectoryA(path, kPathSize);
    if (length == 0 || length + sizeof(kDriverFileName) > kPathSize) {
        delete[] path;
        return 0;
    }
    lstrcatA(path, kDriverFileName);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        // A file of that name is used as found, whatever it holds.
        FindClose(search);
        delete[] path;
        return 1;
    }

    ServerModule* module = ServerModule::Current();
    HRSRC resource = module ? FindResourceA(module->instance, MAKEINTRESOURCEA(kDriverResourceId),
                                            kDriverResourceType)
                            : nullptr;
    HGLOBAL loaded = resource ? LoadResource(module->instance, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        // No image to write. An empty file here would never be replaced, so none is created.
        delete[] path;
        return 0;
    }
    DWORD size = SizeofResource(module->instance, resource);

    // The outcome of writing is not examined: the client's open reports whatever is there.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes, size, &written, nullptr);
        FlushFileBuffers(file);
        CloseHandle(file);
    }
    delete[] path;
    return 1;
}

HRESULT DriversBody::GetComponentInfomation(BSTR* information) {
    if (!information) return E_POINTER;
    *information = ToWideString(kComponentInformation);
    return *information ? S_OK : E_OUTOFMEMORY;
}

HRESULT DriversBody::GetDataListSize(long* size) {
    if (!size) return E_POINTER;
    *size = static_cast<long>(dataList_ ? dataList_->GetCount() : 0);
    return S_OK;
}

HRESULT DriversBody::GetDataListName(long listIndex, BSTR* name) {
    if (!name) return E_POINTER;
    *name = dataList_ ? dataList_->GetNameByIndex(listIndex) : nullptr;
    return S_OK;
}

HRESULT DriversBody::GetDataListValueByIndex(long listIndex, BSTR* value) {
    if (!value) return E_POINTER;
    *value = dataList_ ? dataList_->GetValueByIndex(listIndex) : nullptr;
    return S_OK;
}

HRESULT DriversBody::GetDataListValueByName(BSTR name, BSTR* value) {
    if (!value) return E_POINTER;
    *value = dataList_ ? dataList_->GetValueByName(name) : nullptr;
    return S_OK;
}

HRESULT DriversBody::AddDataElement(BSTR, BSTR) { return E_NOTIMPL; }
HRESULT DriversBody::RemoveDataElementByIndex(long) { return E_NOTIMPL; }
HRESULT DriversBody::RemoveDataElementByName(BSTR) { return E_NOTIMPL; }
HRESULT DriversBody::SetDataListValue(long, BSTR) { return E_NOTIMPL; }
HRESULT DriversBody::LogDataListToFile(BSTR) { return E_NOTIMPL; }
