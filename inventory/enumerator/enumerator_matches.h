// The two passes that mark rows active from the enumerator driver's lists. Each looks only at
// rows not yet active and only ever sets a flag to 1.
#pragma once

#include "driver_table.h"
#include "enumerator_lists.h"

// A row whose file name is longer than 4 characters is active when the name without its last 4
// characters (whatever they are: IOS.VXD is looked up as IOS) is a loaded module's name.
void MatchDriverNames(const DriverNameList& driverNames, DriverTable& table);

// A row is active when its device name, read as at most 8 characters, is a loaded device's
// entry (blanks count: "IOS" does not match "IOS     ").
void MatchDeviceNames(const DeviceNameList& deviceNames, DriverTable& table);
