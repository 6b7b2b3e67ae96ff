// The inventory run: the steps in their order, each over the whole table.
#pragma once

#include "driver_table.h"

// Fills an empty table with the driver files in use that carry a version stamp, in scan order.
void RunInventory(DriverTable& table);
