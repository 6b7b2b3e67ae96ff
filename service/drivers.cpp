#include "drivers.h"

#include <string.h>

#include "data_list.h"
#include "driver_inventory.h"
#include "enumerator_driver_file.h"
#include "owner.h"
#include "server_module.h"

namespace {

const char kComponentInformation[] = "Driver Class";
const char kDatePrefix[] = "DATE-";

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

}   // namespace

DriversBody::DriversBody() : dataList_(new DataList), constructionResult_(S_OK) {
    if (!dataList_) {
        constructionResult_ = E_OUTOFMEMORY;
        return;
    }
    if (!IsWindows9x()) return;
    if (!DeployEnumeratorDriver()) return;
    // A list that lacks files the machine has would read as a machine without them: an
    // inventory cut short by memory refuses the object instead.
    DriverInventory* inventory = new DriverInventory(RunTiming::kNotShown);
    if (!inventory || !inventory->Complete() || !AddInventoryRows(*inventory)) constructionResult_ = E_OUTOFMEMORY;
    delete inventory;
}

bool DriversBody::AddInventoryRows(const DriverInventory& inventory) {
    HeapArray<char> name(new char[kNameBufferSize]);
    HeapArray<char> stamp(new char[kStampBufferSize]);
    HeapArray<char> dateKey(new char[kDateKeyBufferSize]);
    HeapArray<char> date(new char[kDateBufferSize]);
    if (!name || !stamp || !dateKey || !date) return false;
    DWORD count = inventory.GetItemCount();
    for (DWORD index = 1; index <= count; ++index) {
        inventory.GetItemNameAndStamp(name.get(), stamp.get(), index);
        lstrcpyA(dateKey.get(), kDatePrefix);
        lstrcatA(dateKey.get(), name.get());
        inventory.GetItemDate(date.get(), index);
        if (!dataList_->AddAnsiPair(name.get(), stamp.get())) return false;
        if (!dataList_->AddAnsiPair(dateKey.get(), date.get())) {
            dataList_->RemoveNewestPair();   // a file's name without its date would be half a row
            return false;
        }
    }
    return true;
}

DriversBody::~DriversBody() {
    delete dataList_;
}

int DriversBody::DeployEnumeratorDriver() {
    // The image is the "DRIVER" 201 resource of this library, whose instance the module keeps.
    ServerModule* module = ServerModule::Current();
    return DeployEnumeratorDriverFile(module ? module->instance : nullptr);
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

HRESULT DriversBody::AddDataElement(BSTR, BSTR) {
    return E_NOTIMPL;
}
HRESULT DriversBody::RemoveDataElementByIndex(long) {
    return E_NOTIMPL;
}
HRESULT DriversBody::RemoveDataElementByName(BSTR) {
    return E_NOTIMPL;
}
HRESULT DriversBody::SetDataListValue(long, BSTR) {
    return E_NOTIMPL;
}
HRESULT DriversBody::LogDataListToFile(BSTR) {
    return E_NOTIMPL;
}
