// DriverTable: the rows of one inventory, one DriverItem per driver file found, in scan order.
// 1024 rows are allocated and at most 1023 are ever used. Rows are addressed from 0.
#pragma once

#include <windows.h>

#include "driver_item.h"
#include "owner.h"

class DriverTable {
public:
    static constexpr DWORD kCapacity = 1024;   // rows allocated
    static constexpr DWORD kMaxRows = 1023;    // rows ever used
    static constexpr DWORD kNoRow = 0xFFFFFFFFu;

    // Allocates the rows; a table whose allocation failed holds no rows and takes none.
    DriverTable();
    DriverTable(DriverTable&& other);
    DriverTable& operator=(DriverTable&& other);
    DriverTable(const DriverTable&) = delete;
    DriverTable& operator=(const DriverTable&) = delete;

    bool Allocated() const { return rows_.valid(); }
    // Whether the table holds every row the machine gives: false when its allocation failed (or
    // its rows were moved away), or when a step marked it for a row lost to memory that ran out
    // (a file whose stamp could not be read, a list of the enumerator driver that could not be
    // kept).
    bool Complete() const { return Allocated() && !shortOfMemory_; }
    void MarkShortOfMemory() { shortOfMemory_ = true; }

    DWORD Count() const { return count_; }
    DriverItem& Row(DWORD row) { return rows_.get()[row]; }
    const DriverItem& Row(DWORD row) const { return rows_.get()[row]; }

    // Appends a row with the file name, the full path and the last-write time; its version
    // stamp and device name are zero bytes and it is not active. Returns false without a trace
    // when the table holds 1023 rows already.
    bool AddItem(const char* fileName, const char* fullPath, DWORD lastWriteLow, DWORD lastWriteHigh);

    // The first row whose file name equals `name` without regard to case, or kNoRow.
    DWORD FindItemByFileName(const char* name) const;

    // Keeps the rows that are active and carry a version stamp, in their
    // order; the others are gone.
    void Compact();

private:
    HeapArray<DriverItem> rows_;
    DWORD count_;
    bool shortOfMemory_;
};
