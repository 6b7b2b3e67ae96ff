// One entry of the system's list of dynamically loaded devices, the list the driver reports
// module by module (ENUMDRV_GET_MODULE): as the machines that stand in for Windows 98 describe
// it, the provisioner's machine files, the kernels the driver's logic and image run on and the
// driver's request cases alike. Not used by the driver or the product, which read the list as
// the system keeps it.
#pragma once

#include <stdint.h>

#include <string>

struct LoadedModule {
    std::string name;        // the module name the loader keeps: no path, no extension
    uint8_t loadCount = 1;   // the loader's load count
    bool hasName = true;     // false: the record's module name pointer is null
};
