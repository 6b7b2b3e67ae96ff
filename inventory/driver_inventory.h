// DriverInventory: what the Drivers object asks for. Its construction runs the whole inventory
// (inventory_run.h) into its table; afterwards it only answers the three accessors, whose
// index counts from 1.
#pragma once

#include <windows.h>

#include "driver_table.h"

class DriverInventory {
public:
    // Runs the inventory. A non-zero timing flag measures the run and shows
    // "Time = %d ms" (caption "ActiveDriverList") when it is done.
    explicit DriverInventory(int timing);
    virtual ~DriverInventory();
    DriverInventory(const DriverInventory&) = delete;
    DriverInventory& operator=(const DriverInventory&) = delete;

    DWORD GetItemCount() const;
    // False when memory ran out for the table or for a step of the run: the rows are whole,
    // but some the machine has may be missing.
    bool Complete() const { return table_.Complete(); }
    // index counts from 1. Return 1 and fill the destinations, or 0 and write nothing. The
    // destinations hold file names of up to 511 characters, stamps of up to 127 and dates
    // ("%0004d/%002d/%002d" of the UTC last-write date).
    int GetItemNameAndStamp(char* name, char* stamp, DWORD index) const;
    int GetItemDate(char* date, DWORD index) const;

private:
    // The row of a 1-based index, or null when the index is 0 or past the last row.
    const DriverItem* ItemAt(DWORD index) const;

    DriverTable table_;
};
