#include "driver_inventory.h"

#include <string.h>

#include "inventory_run.h"

DriverInventory::DriverInventory(RunTiming timing) {
    if (!table_.Allocated()) return;   // no memory for the table: an inventory with no rows
    if (timing == RunTiming::kNotShown) {
        RunInventory(table_);
        return;
    }
    const DWORD started = GetTickCount();
    RunInventory(table_);
    char text[64];
    wsprintfA(text, "Time = %d ms", static_cast<int>(GetTickCount() - started));
    MessageBoxA(nullptr, text, "ActiveDriverList", MB_ICONINFORMATION);
}

DriverInventory::~DriverInventory() {}

DWORD DriverInventory::GetItemCount() const {
    return table_.Count();
}

const DriverItem* DriverInventory::ItemAt(DWORD index) const {
    if (index < 1 || index > table_.Count()) return nullptr;
    return &table_.Row(index - 1);
}

bool DriverInventory::GetItemNameAndStamp(char* name, char* stamp, DWORD index) const {
    const DriverItem* item = ItemAt(index);
    if (!item) return false;
    lstrcpyA(name, item->fileName);
    lstrcpyA(stamp, item->versionStamp);
    return true;
}

bool DriverInventory::GetItemDate(char* date, DWORD index) const {
    const DriverItem* item = ItemAt(index);
    if (!item) return false;
    FILETIME lastWrite;
    lastWrite.dwLowDateTime = item->lastWriteLow;
    lastWrite.dwHighDateTime = item->lastWriteHigh;
    // The date of the UTC time, not converted to local time; a time the conversion rejects
    // gives 0000/00/00 (the record is cleared again, whatever a failing conversion left in it).
    SYSTEMTIME utc;
    memset(&utc, 0, sizeof(utc));
    if (!FileTimeToSystemTime(&lastWrite, &utc)) memset(&utc, 0, sizeof(utc));
    wsprintfA(date, "%0004d/%002d/%002d", utc.wYear, utc.wMonth, utc.wDay);
    return true;
}
