#include "driver_table.h"

#include <string.h>

#include <utility>

DriverTable::DriverTable() : rows_(new DriverItem[kCapacity]), count_(0), shortOfMemory_(false) {}

DriverTable::DriverTable(DriverTable&& other)
    : rows_(std::move(other.rows_)), count_(other.count_), shortOfMemory_(other.shortOfMemory_) {
    other.count_ = 0;
}

DriverTable& DriverTable::operator=(DriverTable&& other) {
    if (this != &other) {
        rows_ = std::move(other.rows_);
        count_ = other.count_;
        shortOfMemory_ = other.shortOfMemory_;
        other.count_ = 0;
    }
    return *this;
}

bool DriverTable::AddItem(const char* fileName, const char* fullPath, DWORD lastWriteLow, DWORD lastWriteHigh) {
    if (!Allocated() || count_ >= kMaxRows) return false;
    DriverItem& item = rows_.get()[count_];
    lstrcpynA(item.fileName, fileName, sizeof(item.fileName));
    lstrcpynA(item.fullPath, fullPath, sizeof(item.fullPath));
    item.lastWriteLow = lastWriteLow;
    item.lastWriteHigh = lastWriteHigh;
    memset(item.versionStamp, 0, sizeof(item.versionStamp));
    memset(item.deviceName, 0, sizeof(item.deviceName));
    item.active = false;
    ++count_;
    return true;
}

DWORD DriverTable::FindItemByFileName(const char* name) const {
    for (DWORD row = 0; row < count_; ++row) {
        if (lstrcmpiA(Row(row).fileName, name) == 0) return row;
    }
    return kNoRow;
}

void DriverTable::Compact() {
    DWORD kept = 0;
    for (DWORD row = 0; row < count_; ++row) {
        const DriverItem& item = Row(row);
        if (!item.active || !item.versionStamp[0]) continue;
        if (kept != row) Row(kept) = item;
        ++kept;
    }
    count_ = kept;
}
