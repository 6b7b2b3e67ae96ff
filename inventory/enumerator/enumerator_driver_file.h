// The enumerator driver file, ORV_DE.VXD in the system directory: the file that the client's
// open of the device loads. Object creation puts it in place from the module's "DRIVER" 201
// resource when it is absent; registration and unregistration remove it, so that the next
// creation writes the copy carried by the library registered then.
#pragma once

#include <windows.h>

// Puts the driver file in place from `module`'s "DRIVER" 201 resource when no file of that name
// is there. A file found is used as it is, whatever it holds. The image is written whole under
// a temporary name in the system directory and only then moved to the driver file's name, so
// the driver file is never seen incomplete; when the write fails nothing is deployed and no
// temporary file stays behind, and when another process moved its copy into place first, that
// copy is used.
// Returns 1 when the file was found or a write was attempted (whatever came of the write), 0
// when it is absent and `module` carries no such resource.
int DeployEnumeratorDriverFile(HMODULE module);

// Deletes the driver file; that it is absent or in use is no concern of the caller.
void RemoveEnumeratorDriverFile();
