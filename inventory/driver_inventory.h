// DriverInventory: what the Drivers object asks for. Its construction runs the whole inventory
// (inventory_run.h) into its table; afterwards it only answers the three accessors, whose
// index counts from 1.
#pragma once

#include <windows.h>

#include "driver_table.h"

// Whether a run is timed: kShown measures it and shows "Time = %d ms" (caption
// "ActiveDriverList") when it is done.
enum class RunTiming { kNotShown, kShown };

class DriverInventory {
public:
    // Runs the inventory.
    explicit DriverInventory(RunTiming timing);
    virtual ~DriverInventory();
    DriverInventory(const DriverInventory&) = delete;
    DriverInventory& operator=(const DriverInventory&) = delete;

    DWORD GetItemCount() const;
    // False when memory ran out for the table or for a step of the run: the rows are whole,
    // but some the machine has may be missing.
    bool Complete() const { return table_.Complete(); }
    // index counts from 1. Return true and fill the destinations, or false and write nothing. The
    // destinations hold file names of up to 511 characters, stamps of up to 127 and dates
    // ("%0004d/%002d/%002d" of the UTC last-write date).
    bool GetItemNameAndStamp(char* name, char* stamp, DWORD index) const;
    bool GetItemDate(char* date, DWORD index) const;

private:
    // The row of a 1-based index, or null when the index is 0 or past the last row.
    const DriverItem* ItemAt(DWORD index) const;

    DriverTable table_;
};
