#include "driver_inventory.h"

#include <string.h>

DriverInventory::DriverInventory(int timing) : DriverInventory(TablesOnly()) {
    if (!TablesAllocated()) return;   // no memory for the tables: an inventory with no rows
    if (!timing) {
        RunInventory(timing);
        return;
    }
    DWORD started = GetTickCount();
    RunInventory(timing);
    char text[64];
    wsprintfA(text, "Time = %d ms", static_cast<int>(GetTickCount() - started));
    MessageBoxA(nullptr, text, "ActiveDriverList", MB_ICONINFORMATION);
}

DriverInventory::DriverInventory(TablesOnly)
    : items_(nullptr), driverNames_(nullptr), deviceNames_(nullptr), driverNameCount_(0),
      itemCount_(0), deviceNameCount_(0), cacheLength_(0), cacheDirty_(0), findData_(),
      cacheImage_(nullptr), directoryBuffer_(nullptr), pathBuffer_(nullptr) {
    AllocateTables();
}

DriverInventory::~DriverInventory() {
    delete[] cacheImage_;
    delete[] pathBuffer_;
    delete[] directoryBuffer_;
    delete[] items_;
    delete[] driverNames_;
    delete[] deviceNames_;
}

void DriverInventory::AllocateTables() {
    items_ = new DriverItem[kTableCapacity];
    driverNames_ = new char[kDriverNameSlots][kDriverNameSlotSize];
    deviceNames_ = new BYTE[kDeviceNameListSize];
    pathBuffer_ = new char[kPathBufferSize];
    directoryBuffer_ = new char[kDirectoryBufferSize];
    if (!TablesAllocated()) return;
    memset(driverNames_, 0, kDriverNameSlots * kDriverNameSlotSize);
    memset(deviceNames_, 0, kDeviceNameListSize);
    pathBuffer_[0] = '\0';
    directoryBuffer_[0] = '\0';
}

bool DriverInventory::TablesAllocated() const {
    return items_ && driverNames_ && deviceNames_ && pathBuffer_ && directoryBuffer_;
}

void DriverInventory::RunInventory(int /*timing*/) {
    // 1. No cache image until it is loaded.
    delete[] cacheImage_;
    cacheImage_ = nullptr;
    cacheLength_ = 0;

    // 2. The two lists of the enumerator driver, loaded only for these requests.
    QueryEnumeratorDriver();

    // 3.-6. Version cache, file scan, a stamp for every row (from the cache, or from the file
    // and then recorded), and the cache written back only when it changed.
    LoadVersionCache();
    ScanDriverFiles();
    for (DWORD row = 0; row < itemCount_; ++row) {
        if (!LookupVersionCache(row)) UpdateVersionCache(row);
    }
    if (cacheDirty_) SaveVersionCache();

    // 7.-9. Which files are in use: the device tree, then the two lists. Each step only sets
    // flags, so a row marked once is not compared again.
    ScanDeviceTree();
    MatchDriverNames();
    MatchDeviceNames();

    // 10. Only the rows that are in use and carry a version stamp survive.
    CompactItems();
}

void DriverInventory::AddItem(const char* fileName, const char* fullPath, DWORD lastWriteLow,
                              DWORD lastWriteHigh) {
    if (itemCount_ >= kMaxItems) return;
    DriverItem& item = items_[itemCount_];
    lstrcpynA(item.fileName, fileName, sizeof(item.fileName));
    lstrcpynA(item.fullPath, fullPath, sizeof(item.fullPath));
    item.lastWriteLow = lastWriteLow;
    item.lastWriteHigh = lastWriteHigh;
    memset(item.versionStamp, 0, sizeof(item.versionStamp));
    memset(item.deviceName, 0, sizeof(item.deviceName));
    item.active = 0;
    ++itemCount_;
}

void DriverInventory::CompactItems() {
    DriverItem* compacted = new DriverItem[kTableCapacity];
    if (!compacted) {
        // Without a second table the rows are compacted where they stand; the result is the same.
        compacted = items_;
    }
    DWORD kept = 0;
    for (DWORD i = 0; i < itemCount_; ++i) {
        if (items_[i].active && items_[i].versionStamp[0]) {
            if (&compacted[kept] != &items_[i]) compacted[kept] = items_[i];
            ++kept;
        }
    }
    if (compacted != items_) {
        delete[] items_;
        items_ = compacted;
    }
    itemCount_ = kept;
}

DWORD DriverInventory::GetItemCount() const { return itemCount_; }

int DriverInventory::GetItemNameAndStamp(char* name, char* stamp, DWORD index) const {
    if (index < 1 || index > itemCount_) return 0;
    const DriverItem& item = items_[index - 1];
    lstrcpyA(name, item.fileName);
    lstrcpyA(stamp, item.versionStamp);
    return 1;
}

int DriverInventory::GetItemDate(char* date, DWORD index) const {
    if (index < 1 || index > itemCount_) return 0;
    const DriverItem& item = items_[index - 1];
    FILETIME lastWrite;
    lastWrite.dwLowDateTime = item.lastWriteLow;
    lastWrite.dwHighDateTime = item.lastWriteHigh;
    // The date of the UTC time, not converted to local time; a time the conversion rejects
    // gives 0000/00/00 (the record is cleared again, whatever a failing conversion left in it).
    SYSTEMTIME utc;
    memset(&utc, 0, sizeof(utc));
    if (!FileTimeToSystemTime(&lastWrite, &utc)) memset(&utc, 0, sizeof(utc));
    wsprintfA(date, "%0004d/%002d/%002d", utc.wYear, utc.wMonth, utc.wDay);
    return 1;
}
