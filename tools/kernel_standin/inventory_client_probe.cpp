// Runs the inventory's own enumerator driver client (QueryEnumeratorDriver) in a process of
// its own and prints the two lists it filled, for kernel_standin_test: the product's client
// talking to the real driver image behind the kernel stand-in.
#include <cstdio>

#include "enumerator_client.h"

namespace {

// Slots are printed numbered from 1, 0 for a name that no slot holds.
unsigned long Numbered(DWORD slot, DWORD notListed) {
    return slot == notListed ? 0 : slot + 1;
}

}   // namespace

int main() {
    DriverNameList driverNames;
    DeviceNameList deviceNames;
    QueryEnumeratorDriver(driverNames, deviceNames);
    for (DWORD i = 0; i < driverNames.Count(); ++i) std::printf("driver %s\n", driverNames.Name(i));
    for (DWORD i = 0; i < deviceNames.Count(); ++i)
        std::printf("device [%s]\n", reinterpret_cast<const char*>(deviceNames.Entry(i)));
    std::printf("match ORV_DE.VXD %lu IOS %lu\n",
                Numbered(driverNames.FindDriverName("orv_de"), DriverNameList::kNotListed),
                Numbered(deviceNames.FindDeviceName("IOS     "), DeviceNameList::kNotListed));
    return 0;
}
