#include "enumerator_lists.h"

#include <string.h>

#include "enumerator_replies.h"

namespace {

int CompareNames(const char* left, const char* right) {
    return lstrcmpiA(left, right);
}

// FindNameInSlots numbers the slots from 1 and answers 0 for none.
DWORD SlotOf(uint32_t number, DWORD notListed) {
    return number ? number - 1 : notListed;
}

}   // namespace

DriverNameList::DriverNameList() : slots_(new char[kDriverNameSlots * kDriverNameSlotSize]), count_(0) {
    Clear();
}

void DriverNameList::Clear() {
    if (slots_) memset(slots_.get(), 0, kDriverNameSlots * kDriverNameSlotSize);
    count_ = 0;
}

int DriverNameList::AddModuleRecord(const BYTE* record) {
    if (Full()) return 0;
    enumerator_replies::StoreModuleName(slots_.get() + count_ * kDriverNameSlotSize, kDriverNameSlotSize, record);
    ++count_;
    return 1;
}

DWORD DriverNameList::FindDriverName(const char* name) const {
    if (!Allocated()) return kNotListed;
    return SlotOf(enumerator_replies::FindNameInSlots(slots_.get(), kDriverNameSlotSize, count_, name, CompareNames),
                  kNotListed);
}

DeviceNameList::DeviceNameList() : entries_(new BYTE[kDeviceNameListSize]), count_(0) {
    if (entries_) memset(entries_.get(), 0, kDeviceNameListSize);
}

void DeviceNameList::TakeReply(bool succeeded, DWORD byteCount) {
    count_ = Allocated() ? enumerator_replies::DeviceNameCount(succeeded, byteCount, kDeviceNameListSize) : 0;
}

DWORD DeviceNameList::FindDeviceName(const char* name) const {
    if (!Allocated()) return kNotListed;
    return SlotOf(enumerator_replies::FindNameInSlots(reinterpret_cast<const char*>(entries_.get()),
                                                      kDeviceNameSlotSize, count_, name, CompareNames),
                  kNotListed);
}
