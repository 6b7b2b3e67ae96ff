// Keys and string values of the machine, written through the registry API (the only way into
// HKEY_DYN_DATA, which Wine keeps in the running wineserver alone).
#ifndef BRANTOVIX_PROVISIONER_REGISTRY_TREE_H
#define BRANTOVIX_PROVISIONER_REGISTRY_TREE_H

#include <windows.h>

#include <string>

#include "record.h"

namespace provisioner {

// Opens root\path, creating every missing part; with a record, records each part it created.
// On success *out is the open key, for the caller to close.
bool CreateKeyPath(HKEY root, const char* rootName, const std::string& path, Record* record, HKEY* out);

// Sets the string value name = data of root\path, creating the key path as needed. With a
// record the value must not be there yet (the provisioner replaces no value it did not
// create) and is recorded, with its data, before it is written; without one it is written
// whether it is there or not.
bool SetStringValue(HKEY root, const char* rootName, const std::string& path, const std::string& name,
                    const std::string& data, Record* record);

}   // namespace provisioner

#endif
