// Runs the inventory's own enumerator driver client (QueryEnumeratorDriver) in a process of
// its own and prints the two lists it filled, for kernel_standin_test: the product's client
// talking to the real driver image behind the kernel stand-in.
#include <cstdio>

#include "driver_inventory.h"

namespace {

class ProbeInventory : public DriverInventory {
public:
    ProbeInventory() : DriverInventory(TablesOnly()) {}
    void Run() {
        QueryEnumeratorDriver();
        for (DWORD i = 0; i < driverNameCount_; ++i) std::printf("driver %s\n", driverNames_[i]);
        for (DWORD i = 0; i < deviceNameCount_; ++i)
            std::printf("device [%s]\n", reinterpret_cast<const char*>(deviceNames_ + 9 * i));
        std::printf("match ORV_DE.VXD %lu IOS %lu\n", FindDriverName("orv_de"), FindDeviceName("IOS     "));
    }
};

}  // namespace

int main() {
    ProbeInventory inventory;
    inventory.Run();
    return 0;
}
