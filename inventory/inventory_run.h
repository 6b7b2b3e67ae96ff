// The inventory run: the steps in their order, each over the whole table.
#pragma once

#include "driver_table.h"

// Fills an empty table with the driver files in use that carry a version stamp, in scan order.
// A step that loses a row for want of memory marks the table (DriverTable::Complete).
void RunInventory(DriverTable& table);
