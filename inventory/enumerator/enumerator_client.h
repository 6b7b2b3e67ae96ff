// Client of the enumerator driver ORV_DE.VXD: opening the device "\\.\ORV_DE.vxd" loads the
// driver (deployed in the system directory beforehand), two kinds of device I/O control
// request fetch the module names of the dynamically loaded drivers and the device names of
// every loaded virtual device, and closing the handle unloads the driver again.
#pragma once

#include "enumerator_lists.h"

// Fills both lists, each from empty. When the device would load any ORV_DE.VXD but the one
// deployed in the system directory (device_file_rule.h), nothing is opened and both lists
// stay empty, as when the device cannot be opened; a request that fails leaves its list as
// far as it got.
void QueryEnumeratorDriver(DriverNameList& driverNames, DeviceNameList& deviceNames);
