// What every COM client of the component does first: find the class by its ProgID and create a
// Drivers object (which runs the inventory) for IOrvService, the early-bound interface. Used by
// BRANLIST.EXE and by the main job's client (tools/inventory_client).
#pragma once
#include <windows.h>
#include <objbase.h>

#include "brantovix_idl.h"

extern const wchar_t kDriversProgId[];   // L"Brantovix.Drivers.1"

// CLSIDFromProgID, then CoCreateInstance in process. On failure *drivers is null and
// *notRegistered says whether the class is not registered (no ProgID, or no class under it).
// COM must be initialised on the calling thread.
HRESULT CreateDriversObject(IOrvService** drivers, bool* notRegistered);
