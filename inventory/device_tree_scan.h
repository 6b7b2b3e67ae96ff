// Plug-and-play registry scan: follows every device node of the configuration manager's live
// tree to the driver files its class key lists, and marks those rows of the table active.
//
//   HKEY_DYN_DATA "Config Manager\Enum\<node>"                 value "HardWareKey"
//   HKEY_LOCAL_MACHINE "Enum\<hardware key>"                   value "Driver"
//   HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\<driver>"
//        first present of "Driver", "DeviceVxDs", "PortDriver", "MTD", "MouseDriver":
//        a comma-separated list of file names
#pragma once

#include "driver_table.h"

// Marks the rows that the device tree names. Only ever sets active flags.
void ScanDeviceTree(DriverTable& table);
