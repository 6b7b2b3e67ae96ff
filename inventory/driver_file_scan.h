// The driver file scan: the only source of rows. Every file that matches a driver pattern in
// the three driver directories becomes a row of the table.
#pragma once

#include "driver_table.h"

// Adds a row for every file found, directory by directory (the system directory, the Windows
// directory's "System32\Drivers", the system directory's "IoSubSys"), in each directory
// pattern by pattern ("*" and each of kDriverExtensions, driver_extensions.h), and within one
// pattern in the order the directory search returns them. A directory that cannot be searched
// contributes no rows. The process's current directory is never touched.
void ScanDriverFiles(DriverTable& table);
