// Table-driven QueryInterface: each class lists the interfaces it answers as
// {IID, offset of that interface pointer inside the object}, ended by an entry whose IID is null.
// The first entry also answers IUnknown.
#pragma once

#include <windows.h>
#include <unknwn.h>

struct InterfaceTableEntry {
    const IID* iid;
    DWORD offset;
};

// E_POINTER when out is null; otherwise out is set to null first, then to the interface found
// (AddRef'ed through its own vtable) with S_OK, or E_NOINTERFACE.
HRESULT QueryInterfaceFromTable(void* object, const InterfaceTableEntry* table, REFIID iid, void** out);
