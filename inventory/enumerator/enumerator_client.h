// Client of the enumerator driver ORV_DE.VXD: opening the device "\\.\ORV_DE.vxd" loads the
// driver (deployed in the system directory beforehand), two kinds of device I/O control
// request fetch the module names of the dynamically loaded drivers and the device names of
// every loaded virtual device, and closing the handle unloads the driver again.
#pragma once

#include "enumerator_lists.h"

// Fills both lists, each from empty. A device that cannot be opened leaves both empty; a
// request that fails leaves its list as far as it got.
void QueryEnumeratorDriver(DriverNameList& driverNames, DeviceNameList& deviceNames);
